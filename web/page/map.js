// SPDX-License-Identifier: MIT
// The live map: markers and a list of the heard stations, kept current from
// the program's /events stream. Texts from the air go into the page only as
// text (textContent, SVG attributes), never as markup.
'use strict';

(function () {
  const SVG_NS = 'http://www.w3.org/2000/svg';
  const MOVING_COLOURS = ['#d7191c', '#2b6cb0', '#1a9641', '#e66101', '#7b3294'];
  const INK = '#1f3b57';

  // The fixed icons, groups 5 to 14, as line drawings in a 32 x 32 box.
  const DRAWINGS = {
    5: ['M16 10 L11 25 M16 10 L21 25 M13 20 H19', 'M11 8 Q9 10.5 11 13 M21 8 Q23 10.5 21 13'],  // repeater
    6: ['M8 16 L16 9 L24 16', 'M10 15 V24 H22 V15', 'M14 24 V19 H18 V24'],  // house
    7: ['M8 13 L10 9 H22 L24 13 Z', 'M9 13 V24 H23 V13', 'M13 24 V18 H19 V24'],  // shop
    8: ['M10 21 C11 19 11 17 11 15 A5 5 0 0 1 21 15 C21 17 21 19 22 21 Z', 'M14.5 23 A1.5 1.5 0 0 0 17.5 23'],  // bell
    9: ['M9 9 H23 L16 17 Z', 'M16 17 V24', 'M12 24 H20'],  // drink
    10: ['M13 24 V8 L22 11.5 L13 15', 'M9 24 H19'],  // golf course
    11: ['M7 16 Q11.5 10 16 16 Q20.5 10 25 16'],  // gull
    12: ['M7 16 Q13.5 9 21 16 Q13.5 23 7 16 Z', 'M21 16 L26 12 V20 Z', 'M11.5 15 h0.1'],  // fish
    14: ['M10 8 V13 Q10 15 12 15 Q14 15 14 13 V8', 'M12 8 V13 M12 15 V24', 'M20 8 Q17 11 18 16 H20 M20 8 V24'],  // restaurant
  };

  function svgElement(name, attributes, parent) {
    const element = document.createElementNS(SVG_NS, name);
    for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, String(value));
    if (parent) parent.appendChild(element);
    return element;
  }

  function iconSvg(gid) {
    const svg = svgElement('svg', { width: 32, height: 32, viewBox: '0 0 32 32' });
    const moving = /^([0-4])(?:\.(\d+))?$/.exec(gid);
    const fixed = /^(\d+)$/.exec(gid);
    if (moving) {
      const colour = MOVING_COLOURS[Number(moving[1])];
      if (moving[2] !== undefined) {
        svgElement('path', {
          d: 'M16 2 L26 28 L16 22 L6 28 Z', fill: colour, stroke: '#fff', 'stroke-width': 2,
          'stroke-linejoin': 'round', transform: `rotate(${Number(moving[2]) * 22.5} 16 16)`,
        }, svg);
      } else {
        svgElement('circle', { cx: 16, cy: 16, r: 8, fill: colour, stroke: '#fff', 'stroke-width': 2 }, svg);
      }
    } else if (fixed && Number(fixed[1]) >= 5 && Number(fixed[1]) <= 14) {
      const kind = Number(fixed[1]);
      if (kind === 13) {  // car park
        svgElement('rect', { x: 4, y: 4, width: 24, height: 24, rx: 5, fill: '#2b5fb3', stroke: '#fff', 'stroke-width': 2 }, svg);
        svgElement('path', { d: 'M13 23 V9 H18 A4 4 0 0 1 18 17 H13', fill: 'none', stroke: '#fff', 'stroke-width': 3 }, svg);
      } else {
        svgElement('circle', { cx: 16, cy: 16, r: 14, fill: '#fff', stroke: INK, 'stroke-width': 2 }, svg);
        const ink = svgElement('g', {
          fill: 'none', stroke: INK, 'stroke-width': 2, 'stroke-linecap': 'round', 'stroke-linejoin': 'round',
        }, svg);
        for (const d of DRAWINGS[kind]) svgElement('path', { d }, ink);
      }
    } else {
      svgElement('circle', { cx: 16, cy: 16, r: 6, fill: '#555', stroke: '#fff', 'stroke-width': 2 }, svg);
    }
    return svg;
  }

  function stationIcon(gid) {
    return L.divIcon({
      html: iconSvg(gid), className: 'station-icon', iconSize: [32, 32], iconAnchor: [16, 16],
      popupAnchor: [0, -14],
    });
  }

  // "yy/mm/dd hh:mm:ss JST" from the ISO local time, as the map script shows it.
  function receivedText(iso) {
    const m = /^\d\d(\d\d)-(\d\d)-(\d\d)T(\d\d:\d\d:\d\d)(Z|[+-]\d\d:\d\d)$/.exec(iso || '');
    if (!m) return '-';
    const zone = { '+09:00': 'JST', 'Z': 'UTC', '+00:00': 'UTC' }[m[5]] || 'UTC' + m[5];
    return `${m[1]}/${m[2]}/${m[3]} ${m[4]} ${zone}`;
  }

  // "yy/mm/dd hh:mm:ss UTC" from ddmmyy and hhmmss; "-" for a missing digit.
  function dataTimeText(date, time) {
    const at = (text, i) => (typeof text === 'string' && i < text.length ? text[i] : '-');
    const d = (i) => at(date, i);
    const t = (i) => at(time, i);
    return `${d(4)}${d(5)}/${d(2)}${d(3)}/${d(0)}${d(1)} ${t(0)}${t(1)}:${t(2)}${t(3)}:${t(4)}${t(5)} UTC`;
  }

  function numberText(value, digits, unit) {
    return typeof value === 'number' && Number.isFinite(value) ? value.toFixed(digits) + unit : '-';
  }

  function popupContent(p) {
    const box = document.createElement('div');
    box.className = 'station-popup';
    const title = document.createElement('h2');
    title.textContent = p.callsign || '';
    box.appendChild(title);
    const table = document.createElement('table');
    const lines = [
      ['受信日時', receivedText(p.received_at)],
      ['データ日時', dataTimeText(p.utc_date, p.utc_time)],
      ['移動速度', numberText(p.speed_kmh, 2, ' km/h')],
      ['移動方向', typeof p.course === 'number' ? `${p.course}°` : '-'],
      ['レピータ', p.repeater || ''],
      ['メッセージ', p.message || ''],
    ];
    // A hub's station: every receiver that heard it, with when.
    if (Array.isArray(p.receivers)) {
      for (const r of p.receivers) lines.push(['受信局', `${String(r.receiver ?? '')} ${heardText(r.heard)}`]);
    }
    for (const [label, value] of lines) {
      const row = table.insertRow();
      const th = document.createElement('th');
      th.textContent = label;
      row.appendChild(th);
      row.insertCell().textContent = value;
    }
    box.appendChild(table);
    return box;
  }

  function agoText(ms) {
    const s = Math.max(0, Math.floor(ms / 1000));
    if (s < 60) return `${s}秒前`;
    if (s < 3600) return `${Math.floor(s / 60)}分前`;
    if (s < 86400) return `${Math.floor(s / 3600)}時間前`;
    return `${Math.floor(s / 86400)}日前`;
  }

  function heardText(iso) {
    const m = /^\d{4}-(\d\d)-(\d\d)T(\d\d:\d\d:\d\d)/.exec(iso || '');
    return m ? `${m[1]}/${m[2]} ${m[3]}` : '-';
  }

  function pointOf(geometry) {
    if (!geometry || geometry.type !== 'Point' || !Array.isArray(geometry.coordinates)) return null;
    const [lon, lat] = geometry.coordinates;
    return Number.isFinite(lon) && Number.isFinite(lat) ? L.latLng(lat, lon) : null;
  }

  const body = document.body;
  // minZoom set here, so that a tile file's first zoom does not limit the map.
  const map = L.map('map', { worldCopyJump: true, minZoom: 0 });
  // An MBTiles file served here says its zooms, area and centre; tiles
  // beyond its last zoom are its own, enlarged.
  const own = JSON.parse(body.dataset.tileOptions || '{}');
  if (own.center) map.setView([own.center[0], own.center[1]], Math.max(own.center[2], own.minZoom));
  else if (own.bounds) map.fitBounds(own.bounds);
  else map.setView([36.2, 138.25], 5);
  if (body.dataset.tiles) {
    const options = { maxZoom: 19, attribution: body.dataset.attribution };
    if (own.maxZoom !== undefined) Object.assign(options, { minZoom: own.minZoom, maxNativeZoom: own.maxZoom });
    if (own.bounds) options.bounds = own.bounds;
    L.tileLayer(body.dataset.tiles, options).addTo(map);
  } else {
    map.getContainer().classList.add('no-tiles');
  }
  L.control.scale({ imperial: false }).addTo(map);
  // For trails.js, which draws from the history file when there is one.
  window.rigplotMap = map;
  const announce = (name, detail) => document.dispatchEvent(new CustomEvent(name, { detail }));
  // Callsigns beside the markers once they have room.
  const showLabels = () => map.getContainer().classList.toggle('labels', map.getZoom() >= 9);
  map.on('zoomend', showLabels);
  showLabels();

  // Fit the stations; once the user moves the map the view is theirs.
  let fitted = false;
  let fittedCount = 0;
  let ourMove = false;
  map.on('movestart', () => { if (!ourMove) fitted = true; });
  function moveMap(action) {
    ourMove = true;
    try { action(); } finally { ourMove = false; }
  }

  const entries = new Map();  // key -> {key, props, latlng, heardAt, marker, gid}
  let order = [];  // entries in slot order
  const rows = document.getElementById('rows');
  const count = document.getElementById('count');
  const notice = document.getElementById('notice');

  function placeMarker(entry) {
    if (!entry.latlng) {
      if (entry.marker) entry.marker.remove();
      entry.marker = null;
      return;
    }
    const gid = String(entry.props.gid ?? '');
    if (!entry.marker) {
      entry.marker = L.marker(entry.latlng, {
        icon: stationIcon(gid), title: entry.props.callsign || '', riseOnHover: true,
      }).addTo(map);
      entry.marker.bindPopup(popupContent(entry.props));
      entry.marker.on('click', () => announce('rigplot:select', entry.props.callsign || ''));
      const label = document.createElement('span');
      label.textContent = entry.props.callsign || '';
      entry.marker.bindTooltip(label, {
        permanent: true, direction: 'right', offset: [12, 0], className: 'station-label',
      });
    } else {
      entry.marker.setLatLng(entry.latlng);
      if (gid !== entry.gid) entry.marker.setIcon(stationIcon(gid));
      entry.marker.setPopupContent(popupContent(entry.props));
    }
    entry.gid = gid;
  }

  function renderList() {
    const sorted = order.slice().sort((a, b) => {
      const at = Number.isNaN(a.heardAt) ? -Infinity : a.heardAt;
      const bt = Number.isNaN(b.heardAt) ? -Infinity : b.heardAt;
      return bt - at || b.index - a.index;  // same second: the newer slot first
    });
    const now = Date.now();
    rows.replaceChildren(...sorted.map((entry) => {
      const row = document.createElement('tr');
      if (!entry.marker) row.className = 'unplaced';
      const call = row.insertCell();
      call.className = 'call';
      call.textContent = entry.props.callsign || '';
      if (Array.isArray(entry.props.receivers)) {
        const heardBy = document.createElement('span');
        heardBy.className = 'receivers';
        heardBy.textContent = entry.props.receivers.map((r) => String(r.receiver ?? '')).join(', ');
        call.append(document.createElement('br'), heardBy);
      }
      row.insertCell().textContent = heardText(entry.props.received_at);
      const ago = row.insertCell();
      ago.className = 'ago';
      ago.dataset.heardAt = String(entry.heardAt);
      ago.textContent = Number.isNaN(entry.heardAt) ? '-' : agoText(now - entry.heardAt);
      row.addEventListener('click', () => {
        if (!entry.marker) return;
        fitted = true;
        moveMap(() => map.panTo(entry.latlng));
        entry.marker.openPopup();
        announce('rigplot:select', entry.props.callsign || '');
      });
      return row;
    }));
  }

  function apply(collection) {
    const features = collection && Array.isArray(collection.features) ? collection.features : [];
    const seen = new Set();
    order = features.map((feature, index) => {
      const props = (feature && feature.properties) || {};
      let key = String(props.callsign ?? '');
      if (seen.has(key)) key += '\u0000' + index;
      seen.add(key);
      let entry = entries.get(key);
      if (!entry) {
        entry = { key, marker: null, gid: null };
        entries.set(key, entry);
      }
      entry.index = index;
      entry.props = props;
      entry.latlng = pointOf(feature && feature.geometry);
      entry.heardAt = Date.parse(props.received_at ?? '');
      placeMarker(entry);
      return entry;
    });
    for (const [key, entry] of entries) {
      if (seen.has(key)) continue;
      if (entry.marker) entry.marker.remove();
      entries.delete(key);
    }
    renderList();
    count.textContent = `${order.length} 局受信`;
    announce('rigplot:stations', order.map((entry) => String(entry.props.callsign ?? '')));
    // Until the user moves the map, it follows the heard stations as they come in.
    const placed = order.filter((entry) => entry.latlng).map((entry) => entry.latlng);
    if (!fitted && placed.length > fittedCount) {
      fittedCount = placed.length;
      moveMap(() => {
        if (placed.length === 1) map.setView(placed[0], 11);
        else map.fitBounds(L.latLngBounds(placed), { padding: [40, 40], maxZoom: 12 });
      });
    }
  }

  setInterval(() => {
    const now = Date.now();
    for (const cell of rows.querySelectorAll('td.ago')) {
      const heardAt = Number(cell.dataset.heardAt);
      if (!Number.isNaN(heardAt)) cell.textContent = agoText(now - heardAt);
    }
  }, 1000);

  // The stream: each `stations` event is the whole table, so catching up
  // after a lost connection is simply the first event of the next one.
  function setOnline(online) {
    notice.hidden = online;
    body.classList.toggle('offline', !online);
  }

  function connect() {
    const source = new EventSource('/events');
    source.addEventListener('open', () => setOnline(true));
    source.addEventListener('stations', (event) => {
      setOnline(true);
      apply(JSON.parse(event.data));
    });
    source.addEventListener('error', () => {
      setOnline(false);
      source.close();
      setTimeout(connect, 2000);
    });
  }
  connect();
})();

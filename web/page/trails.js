// SPDX-License-Identifier: MIT
// Trails, and the stations the history file remembers after a restart.
// Both come from /tracks.geojson, which answers only when the program keeps a
// history file; without one the control stays hidden and the page is as it
// was. Texts from the air go in only as text.
'use strict';

(function () {
  const map = window.rigplotMap;
  const box = document.getElementById('trails-box');
  const control = document.getElementById('trails');
  const historyRows = document.getElementById('history-rows');
  if (!map || !box || !control || !historyRows) return;

  const TRAIL = { className: 'trail', color: '#d7191c', weight: 3, opacity: 0.75 };
  const FOCUS = { className: 'trail focus', color: '#2b6cb0', weight: 5, opacity: 0.9 };
  const REMEMBER_HOURS = 24;
  const trails = L.layerGroup().addTo(map);
  const focus = L.layerGroup().addTo(map);
  const remembered = new Map();  // callsign -> {marker, row}
  let live = new Set();
  let drawnAt = 0;
  let redraw = null;

  // Whole seconds, as the server reads them.
  function hoursAgo(hours) {
    return new Date(Date.now() - hours * 3600000).toISOString().replace(/\.\d+Z$/, 'Z');
  }

  async function tracks(hours, callsign) {
    let url = '/tracks.geojson?since=' + encodeURIComponent(hoursAgo(hours));
    if (callsign) url += '&callsign=' + encodeURIComponent(callsign);
    const answer = await fetch(url, { cache: 'no-store' });
    if (!answer.ok) throw new Error(`${url}: ${answer.status}`);
    const collection = await answer.json();
    return Array.isArray(collection.features) ? collection.features : [];
  }

  function pointsOf(feature) {
    const coordinates = feature && feature.geometry && feature.geometry.coordinates;
    if (!Array.isArray(coordinates)) return [];
    return coordinates
      .filter((p) => Array.isArray(p) && Number.isFinite(p[0]) && Number.isFinite(p[1]))
      .map(([lon, lat]) => L.latLng(lat, lon));
  }

  // A station that never moved has no line to draw.
  function moved(points) {
    return points.some((p) => !p.equals(points[0]));
  }

  function drawTrails() {
    const hours = Number(control.value);
    drawnAt = Date.now();
    if (!hours) {
      trails.clearLayers();
      return;
    }
    tracks(hours).then((features) => {
      trails.clearLayers();
      if (Number(control.value) !== hours) return;
      for (const feature of features) {
        const points = pointsOf(feature);
        if (moved(points)) L.polyline(points, TRAIL).addTo(trails);
      }
    }).catch(() => {});
  }

  // After a report, at most every five seconds.
  function trailsLater() {
    if (!Number(control.value) || redraw) return;
    redraw = setTimeout(() => {
      redraw = null;
      drawTrails();
    }, Math.max(0, drawnAt + 5000 - Date.now()));
  }

  function showTrack(callsign) {
    focus.clearLayers();
    if (!callsign) return;
    tracks(Number(control.value) || REMEMBER_HOURS, callsign).then((features) => {
      const points = features.length ? pointsOf(features[0]) : [];
      if (!points.length) return;
      if (moved(points)) {
        L.polyline(points, FOCUS).addTo(focus);
        map.fitBounds(L.latLngBounds(points), { padding: [40, 40], maxZoom: 15 });
      }
    }).catch(() => {});
  }

  function forget(callsign) {
    const station = remembered.get(callsign);
    if (!station) return;
    station.marker.remove();
    station.row.remove();
    remembered.delete(callsign);
  }

  // Stations of the last day that the table does not hold, greyed, until
  // they are heard again.
  function remember(features) {
    for (const feature of features) {
      const props = (feature && feature.properties) || {};
      const callsign = String(props.callsign ?? '');
      const points = pointsOf(feature);
      if (!points.length || live.has(callsign) || remembered.has(callsign)) continue;
      const last = points[points.length - 1];
      const marker = L.circleMarker(last, {
        className: 'from-history', radius: 7, color: '#fff', weight: 2, fillColor: '#9a9a9a', fillOpacity: 0.9,
      }).addTo(map);
      const label = document.createElement('span');
      label.textContent = callsign;
      marker.bindTooltip(label, {
        permanent: true, direction: 'right', offset: [8, 0], className: 'station-label',
      });
      marker.on('click', () => showTrack(callsign));
      const row = document.createElement('tr');
      row.className = 'from-history';
      const call = row.insertCell();
      call.className = 'call';
      call.textContent = callsign;
      const heard = /^\d{4}-(\d\d)-(\d\d)T(\d\d:\d\d:\d\d)Z$/.exec(String(props.last ?? ''));
      row.insertCell().textContent = heard ? `${heard[1]}/${heard[2]} ${heard[3]} UTC` : '-';
      row.insertCell().textContent = '履歴';
      row.addEventListener('click', () => showTrack(callsign));
      historyRows.appendChild(row);
      remembered.set(callsign, { marker, row });
    }
    // An empty table after a restart: show where the stations were. This
    // counts as the user's move, so the map then stays where it is.
    if (!live.size && remembered.size) {
      const places = [...remembered.values()].map((station) => station.marker.getLatLng());
      map.fitBounds(L.latLngBounds(places), { padding: [40, 40], maxZoom: 12 });
    }
  }

  document.addEventListener('rigplot:stations', (event) => {
    live = new Set(event.detail);
    for (const callsign of live) forget(callsign);
    trailsLater();
  });
  document.addEventListener('rigplot:select', (event) => showTrack(event.detail));
  control.addEventListener('change', () => {
    focus.clearLayers();
    drawTrails();
  });

  tracks(REMEMBER_HOURS).then((features) => {
    box.hidden = false;
    remember(features);
    drawTrails();
  }).catch(() => {});
})();

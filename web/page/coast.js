// SPDX-License-Identifier: MIT
// The built-in base map: land, lakes and borders from /coast.json, drawn
// under the stations when the page has no tiles, its tiles do not load (no
// internet) or they come from a file that covers one area. The file holds rings as deltas in thousandths of a degree.
(() => {
  'use strict';
  const map = window.rigplotMap;
  if (!map) return;
  let shown = false;

  function decode(lines) {
    return lines.map((deltas) => {
      const points = [];
      let x = 0;
      let y = 0;
      for (let i = 0; i + 1 < deltas.length; i += 2) {
        x += deltas[i];
        y += deltas[i + 1];
        points.push([y / 1000, x / 1000]);
      }
      return points;
    });
  }

  function show() {
    if (shown) return;
    shown = true;
    // Under the tile pane, so tiles that do load cover it.
    (map.getPane('coast') || map.createPane('coast')).style.zIndex = 150;
    map.getContainer().classList.add('coast');
    fetch('/coast.json').then((answer) => answer.json()).then((data) => {
      // One canvas for some 150,000 points: SVG would be slow to pan.
      const renderer = L.canvas({ pane: 'coast', padding: 0.5 });
      const common = { renderer, interactive: false, weight: 1 };
      const polygons = (lines) => decode(lines).map((ring) => [ring]);
      L.polygon(polygons(data.land), { ...common, color: '#8a9a7a', fillColor: '#f2eedf', fillOpacity: 1 }).addTo(map);
      L.polygon(polygons(data.lakes), { ...common, color: '#8a9a7a', fillColor: '#b9d3e6', fillOpacity: 1 }).addTo(map);
      L.polyline(decode(data.borders), { ...common, color: '#b08a8a', dashArray: '4 3' }).addTo(map);
      map.attributionControl.addAttribution('Coastline: GSHHG (LGPL)');
      document.body.dataset.coast = 'drawn';
    }).catch(() => { shown = false; });
  }

  // A tile file of one's own covers its area only: the coast goes on beyond it.
  if (map.getContainer().classList.contains('no-tiles') || /^\//.test(document.body.dataset.tiles)) show();
  map.eachLayer((layer) => {
    if (layer instanceof L.TileLayer) layer.on('tileerror', show);
  });
})();

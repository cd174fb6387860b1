// Drop regions as the native side wants them: rectangles in page coordinates (origin top left,
// y down), clipped to what is visible, first match wins.
(function (Velto) {
  "use strict";

  function intersect(a, b) {
    const x = Math.max(a.x, b.x);
    const y = Math.max(a.y, b.y);
    const right = Math.min(a.x + a.width, b.x + b.width);
    const bottom = Math.min(a.y + a.height, b.y + b.height);
    return right > x && bottom > y ? { x, y, width: right - x, height: bottom - y } : null;
  }

  // entries: [{rect, clip?, type, name}] with DOMRect-like rectangles; viewport: {width, height}.
  // Returns the visible part of each entry, whole pixels, in the order given; hidden ones drop out.
  function compute(entries, viewport) {
    const screen = { x: 0, y: 0, width: viewport.width, height: viewport.height };
    const regions = [];
    for (const entry of entries) {
      let visible = intersect(
        { x: entry.rect.x, y: entry.rect.y, width: entry.rect.width, height: entry.rect.height },
        screen
      );
      if (visible && entry.clip) {
        visible = intersect(visible, entry.clip);
      }
      if (!visible) {
        continue;
      }
      const x = Math.floor(visible.x);
      const y = Math.floor(visible.y);
      regions.push({
        x,
        y,
        width: Math.ceil(visible.x + visible.width) - x,
        height: Math.ceil(visible.y + visible.height) - y,
        type: entry.type,
        name: entry.name,
      });
    }
    return regions;
  }

  // Same rule as the native side: left and top edges inside, right and bottom edges outside.
  function hitTest(regions, x, y) {
    for (const region of regions) {
      if (x >= region.x && y >= region.y && x < region.x + region.width && y < region.y + region.height) {
        return region;
      }
    }
    return null;
  }

  function same(a, b) {
    return JSON.stringify(a) === JSON.stringify(b);
  }

  Velto.regions = { compute, hitTest, same };
})((window.Velto = window.Velto || {}));

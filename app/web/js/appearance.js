// Light or dark, as the desktop prefers: the program says so at start and whenever the
// desktop's preference changes; until it said, and whenever the engine's own preference changes
// (an inspector's emulation), the engine's preference counts.
(function (Velto) {
  "use strict";

  function show(dark) {
    document.documentElement.dataset.scheme = dark ? "dark" : "light";
  }

  const engine = window.matchMedia("(prefers-color-scheme: dark)");
  show(engine.matches);
  engine.addEventListener("change", (event) => show(event.matches));
  Velto.appearance = { show };
})((window.Velto = window.Velto || {}));

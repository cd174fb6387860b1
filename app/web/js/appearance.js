// Light or dark, as the desktop prefers: the program says so at start and whenever the
// desktop's preference changes; until it said, the engine's own preference counts.
(function (Velto) {
  "use strict";

  function show(dark) {
    document.documentElement.dataset.scheme = dark ? "dark" : "light";
  }

  show(window.matchMedia("(prefers-color-scheme: dark)").matches);
  Velto.appearance = { show };
})((window.Velto = window.Velto || {}));

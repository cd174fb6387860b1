// Avatars without a picture: the initials of the user's name on a colour that stays the same
// for the same peer.
(function (Velto) {
  "use strict";

  const palette = ["#3b7dd8", "#2f9e8f", "#8a63d2", "#d8664b", "#c2497a", "#4f8f3a", "#c98a1e", "#5c6ac4"];

  function initials(name, known) {
    if (known === false) {
      return "?";
    }
    const words = String(name || "")
      .split(/\s+/)
      .map((word) => Array.from(word).find((ch) => /\p{L}|\p{N}/u.test(ch)))
      .filter(Boolean);
    if (words.length === 0) {
      return "?";
    }
    const first = words[0];
    const last = words.length > 1 ? words[words.length - 1] : "";
    return (first + last).toLocaleUpperCase();
  }

  function colour(seed) {
    let hash = 2166136261;
    for (const ch of String(seed || "")) {
      hash ^= ch.codePointAt(0);
      hash = Math.imul(hash, 16777619) >>> 0;
    }
    return palette[hash % palette.length];
  }

  Velto.avatar = { initials, colour, palette };
})((window.Velto = window.Velto || {}));

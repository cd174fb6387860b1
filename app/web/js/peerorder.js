// The order of the peer list and what its search box lets through. No DOM here: the list's
// drawing asks where a row goes, and node runs the same file in the tests.
//
// Computers with a conversation come first, the most recent on top; then the others by name.
// An entry: {name, ip, recent}, recent being the time of the conversation's last message (0 for
// none).
(function (Velto) {
  "use strict";

  const collator = new Intl.Collator(undefined, { sensitivity: "base", numeric: true });

  function compare(a, b) {
    if (a.recent !== b.recent) {
      return b.recent - a.recent;
    }
    return collator.compare(a.name, b.name) || (a.key < b.key ? -1 : a.key > b.key ? 1 : 0);
  }

  // Name or address, whatever the case; an empty query lets everything through.
  function matches(entry, query) {
    const wanted = String(query || "")
      .trim()
      .toLocaleLowerCase();
    return !wanted || entry.folded.includes(wanted) || entry.ip.includes(wanted);
  }

  class PeerOrder {
    constructor() {
      this.keys = []; // in list order
      this.entries = new Map(); // key -> entry
    }

    get size() {
      return this.keys.length;
    }

    has(key) {
      return this.entries.has(key);
    }

    // Puts the key where its entry belongs; returns its index in the new order.
    place(key, entry) {
      this.remove(key);
      const placed = { name: entry.name || "", ip: entry.ip || "", recent: entry.recent || 0, key };
      placed.folded = placed.name.toLocaleLowerCase();
      this.entries.set(key, placed);
      let low = 0;
      let high = this.keys.length;
      while (low < high) {
        const middle = (low + high) >> 1;
        if (compare(this.entries.get(this.keys[middle]), placed) < 0) {
          low = middle + 1;
        } else {
          high = middle;
        }
      }
      this.keys.splice(low, 0, key);
      return low;
    }

    remove(key) {
      if (!this.entries.delete(key)) {
        return false;
      }
      this.keys.splice(this.keys.indexOf(key), 1);
      return true;
    }

    matches(key, query) {
      const entry = this.entries.get(key);
      return Boolean(entry) && matches(entry, query);
    }

    // Type-ahead: the first key after `from` (wrapping round, `from` itself last) whose name
    // starts with the prefix and that `shown` lets through; null when none does.
    findByPrefix(prefix, from, shown) {
      const wanted = prefix.toLocaleLowerCase();
      const start = this.keys.indexOf(from);
      for (let step = 1; step <= this.keys.length; step++) {
        const key = this.keys[(start + step + this.keys.length) % this.keys.length];
        if (this.entries.get(key).folded.startsWith(wanted) && shown(key)) {
          return key;
        }
      }
      return null;
    }
  }

  Velto.PeerOrder = PeerOrder;
})(
  typeof module === "object" && module.exports
    ? (module.exports = globalThis.Velto = globalThis.Velto || {})
    : (window.Velto = window.Velto || {})
);

// The list of computers on the left: one row per computer, kept in order row by row (a change
// redraws and moves the rows it concerns, never the whole list), the search box above it, and
// the keyboard: the list is one Tab stop, the arrows, Home and End move between computers,
// letters jump to a name, Enter and Space open the conversation.
(function (Velto) {
  "use strict";

  const typeAheadMs = 700;

  class PeerList {
    // list: the listbox element; search: its search box; empty: the line shown when no row is;
    // rowInfo(key): what view.peerRow draws, with ip and recent for the order, or null when the
    // key has no row; open(key): the user opens that computer's conversation; moved(): rows
    // moved or changed size (drop regions follow).
    constructor({ list, search, empty, rowInfo, open, moved }) {
      Object.assign(this, { list, search, empty, rowInfo, open, moved });
      this.order = new Velto.PeerOrder();
      this.rows = new Map(); // key -> row element
      this.active = null; // the row in the Tab order
      this.query = "";
      this.typed = "";
      this.typedAt = 0;
      this.lostFocus = false;
      this.timing = null; // start of an update not yet on screen, when timings are asked for
      list.addEventListener("click", (event) => this.onClick(event));
      list.addEventListener("keydown", (event) => this.onKey(event));
      list.addEventListener("focusin", (event) => {
        const row = event.target.closest(".peer");
        if (row) {
          this.setActive(row.dataset.key);
        }
      });
      search.addEventListener("input", () => this.filter(search.value));
      search.addEventListener("keydown", (event) => {
        if (event.key === "Escape" && search.value) {
          event.preventDefault();
          search.value = "";
          this.filter("");
        } else if (event.key === "ArrowDown" && this.active) {
          event.preventDefault();
          this.focus(this.active);
        }
      });
    }

    // Draws the row of every key anew (at start).
    reset(keys) {
      this.startTiming();
      this.rows.clear();
      this.order = new Velto.PeerOrder();
      this.list.textContent = "";
      for (const key of keys) {
        this.updateRow(key);
      }
      this.finish();
    }

    // Redraws one computer's row and puts it in its place, or takes it away.
    update(key) {
      this.startTiming();
      this.updateRow(key);
      this.finish();
    }

    updateRow(key) {
      const info = this.rowInfo(key);
      const old = this.rows.get(key);
      const hadFocus = Boolean(old) && old.contains(document.activeElement);
      if (old) {
        old.remove();
      }
      if (!info) {
        const at = this.order.keys.indexOf(key);
        this.rows.delete(key);
        this.order.remove(key);
        if (key === this.active) {
          this.active = this.nearestShown(at); // its neighbour takes its place, and the focus
          this.lostFocus = this.lostFocus || hadFocus;
        }
        return;
      }
      const row = Velto.view.peerRow(info);
      const index = this.order.place(key, info);
      row.hidden = !this.order.matches(key, this.query);
      const next = this.rows.get(this.order.keys[index + 1]) || null;
      this.rows.set(key, row);
      this.list.insertBefore(row, next);
      if (hadFocus) {
        row.tabIndex = 0;
        row.focus({ preventScroll: true });
      }
    }

    // After a change: one row in the Tab order, the empty line, the drop regions.
    finish() {
      if (!this.shown(this.active)) {
        this.setActive(this.nearestShown(0));
      } else {
        this.rows.get(this.active).tabIndex = 0; // its row may be new
      }
      if (this.lostFocus && this.active) {
        this.focus(this.active);
      }
      this.lostFocus = false;
      this.empty.hidden = Boolean(this.active);
      this.empty.textContent = this.query.trim()
        ? Velto.t("No computer matches “{query}”", { query: this.query.trim() })
        : Velto.t("Looking for other computers…");
      this.moved();
      this.onDrawn();
    }

    // The first key at or after the index that can be seen, else the last one before it.
    nearestShown(index) {
      const keys = this.order.keys;
      const after = keys.slice(Math.max(0, index)).find((key) => this.shown(key));
      return after || keys.slice(0, Math.max(0, index)).reverse().find((key) => this.shown(key)) || null;
    }

    shown(key) {
      const row = this.rows.get(key);
      return Boolean(row) && !row.hidden;
    }

    setActive(key) {
      if (key === this.active) {
        return;
      }
      const old = this.rows.get(this.active);
      if (old) {
        old.tabIndex = -1;
      }
      this.active = key;
      if (key) {
        this.rows.get(key).tabIndex = 0;
      }
    }

    focus(key) {
      this.setActive(key);
      const row = this.rows.get(key);
      row.focus({ preventScroll: true });
      row.scrollIntoView({ block: "nearest" });
    }

    filter(query) {
      this.startTiming();
      this.query = query;
      for (const [key, row] of this.rows) {
        const hide = !this.order.matches(key, query);
        if (row.hidden !== hide) {
          row.hidden = hide; // rows that stay as they were cost no layout
        }
      }
      this.finish();
    }

    // The rows that can be seen in the list's scrolling area, in order.
    rowsInView(clip) {
      const seen = [];
      for (const key of this.order.keys) {
        const row = this.rows.get(key);
        if (row.hidden) {
          continue;
        }
        const box = row.getBoundingClientRect();
        if (box.top >= clip.bottom) {
          break;
        }
        if (box.bottom > clip.top) {
          seen.push(row);
        }
      }
      return seen;
    }

    onClick(event) {
      const row = event.target.closest(".peer");
      if (row) {
        this.setActive(row.dataset.key);
        this.open(row.dataset.key);
      }
    }

    onKey(event) {
      const row = event.target.closest(".peer");
      if (!row || event.altKey || event.ctrlKey || event.metaKey) {
        return;
      }
      const shown = this.order.keys.filter((key) => this.shown(key));
      const at = shown.indexOf(row.dataset.key);
      const moves = { ArrowDown: at + 1, ArrowUp: at - 1, Home: 0, End: shown.length - 1 };
      if (event.key in moves) {
        event.preventDefault();
        const target = shown[Math.max(0, Math.min(shown.length - 1, moves[event.key]))];
        if (target) {
          this.focus(target);
        }
      } else if (event.key.length === 1 && (event.key !== " " || this.typed)) {
        event.preventDefault(); // a space within a name being typed is part of it
        this.typeAhead(event.key, row.dataset.key);
      } else if (event.key === "Enter" || event.key === " ") {
        event.preventDefault();
        this.open(row.dataset.key);
      }
    }

    // Letters typed in quick succession jump to the next name that starts with them; the same
    // letter again goes on to the next name with that letter.
    typeAhead(letter, from) {
      const now = performance.now();
      this.typed = now - this.typedAt > typeAheadMs ? letter : this.typed + letter;
      this.typedAt = now;
      clearTimeout(this.typedTimer);
      this.typedTimer = setTimeout(() => (this.typed = ""), typeAheadMs);
      const repeated = [...this.typed].every((c) => c === letter);
      const prefix = repeated ? letter : this.typed;
      // A longer prefix may still fit the row on show; one letter moves on.
      const start = prefix.length > 1 ? this.order.keys[this.order.keys.indexOf(from) - 1] || null : from;
      const found = this.order.findByPrefix(prefix, start, (key) => this.shown(key));
      if (found) {
        this.focus(found);
      }
    }

    // ---- timings: from a change to the end of the next frame's layout, when asked for

    startTiming() {
      if (Velto.pageTimings && this.timing === null) {
        this.timing = performance.now();
      }
    }

    onDrawn() {
      if (this.timing === null || this.timingQueued) {
        return;
      }
      this.timingQueued = true;
      requestAnimationFrame(() => {
        this.list.getBoundingClientRect(); // style and layout done here
        const ms = performance.now() - this.timing;
        this.timing = null;
        this.timingQueued = false;
        console.info("page: peer list drawn in " + ms.toFixed(1) + " ms (" + this.rows.size + " peers)");
      });
    }
  }

  Velto.PeerList = PeerList;
})((window.Velto = window.Velto || {}));

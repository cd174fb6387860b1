// The list of computers on the left: rows built only for the part in view, each placed where it
// stands in the whole list (all rows are of one height), redrawn once per burst of changes and
// as the list scrolls; the search box above it, and
// the keyboard: the list is one Tab stop, the arrows, Home and End move between computers,
// letters jump to a name, Enter and Space open the conversation.
(function (Velto) {
  "use strict";

  const typeAheadMs = 700;
  const rowGap = 2; // px between two rows
  const margin = 8; // rows built beyond each edge of the view, so that scrolling finds them ready

  class PeerList {
    // list: the listbox element; scroller: the area it scrolls in; search: its search box;
    // empty: the line shown when no row is; rowInfo(key): what view.peerRow draws, with ip and
    // recent for the order, or null when the key has no row; open(key): the user opens that
    // computer's conversation; moved(): rows moved or changed size (drop regions follow).
    constructor({ list, scroller, search, empty, rowInfo, open, moved }) {
      Object.assign(this, { list, scroller, search, empty, rowInfo, open, moved });
      this.order = new Velto.PeerOrder();
      this.infos = new Map(); // key -> what its row shows
      this.rows = new Map(); // key -> row element, for the rows built
      this.stale = new Set(); // keys whose built row no longer shows their info
      this.shownKeys = null; // the keys the search lets through, in order; null: to be worked out
      this.pitch = 56 + rowGap; // a row's height and the gap after it, measured once drawn
      // The geometry a drawing needs, kept from the scroll and resize reports so that drawing
      // never waits for a layout: how far the area is scrolled, its height, the list's top in it.
      this.scrolled = 0;
      this.viewHeight = 0;
      this.listTop = 0;
      this.drawnKeys = []; // the shown keys at the last drawing, and the search then
      this.drawnQuery = "";
      this.active = null; // the row in the Tab order
      this.query = "";
      this.typed = "";
      this.typedAt = 0;
      this.drawQueued = false;
      this.frameQueued = false; // drawn since the last frame: further changes wait for the next
      this.timing = null; // start of an update not yet on screen, when timings are asked for
      list.addEventListener("click", (event) => this.onClick(event));
      list.addEventListener("keydown", (event) => this.onKey(event));
      list.addEventListener("focusin", (event) => {
        const row = event.target.closest(".peer");
        if (row) {
          this.setActive(row.dataset.key);
        }
      });
      scroller.addEventListener(
        "scroll",
        () => {
          this.scrolled = scroller.scrollTop;
          this.draw();
        },
        { passive: true }
      );
      new ResizeObserver(([entry]) => {
        this.viewHeight = entry.borderBoxSize[0].blockSize;
        this.listTop = list.getBoundingClientRect().top - scroller.getBoundingClientRect().top + scroller.scrollTop;
        this.draw();
      }).observe(scroller);
      this.rowSize = new ResizeObserver(([entry]) => {
        const pitch = entry.borderBoxSize[0].blockSize + rowGap;
        if (pitch > rowGap && pitch !== this.pitch) {
          this.pitch = pitch;
          this.draw();
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

    // Takes every key anew (at start).
    reset(keys) {
      this.startTiming();
      this.rows.clear();
      this.infos.clear();
      this.order = new Velto.PeerOrder();
      this.list.textContent = "";
      for (const key of keys) {
        this.updateRow(key);
      }
      this.finish();
    }

    // One computer's row shows its info anew in its place, or goes.
    update(key) {
      this.startTiming();
      this.updateRow(key);
      this.finish();
    }

    updateRow(key) {
      const info = this.rowInfo(key);
      this.stale.add(key);
      this.shownKeys = null;
      if (!info) {
        const at = this.order.keys.indexOf(key);
        this.infos.delete(key);
        this.order.remove(key);
        if (key === this.active) {
          this.active = this.nearestShown(at); // its neighbour takes its place, and the focus
        }
        return;
      }
      this.infos.set(key, info);
      this.order.place(key, info);
    }

    // After changes: drawn once all changes of this turn are in (a burst of events draws once).
    // Changes that come after a drawing and before the frame showing it are drawn once, in that
    // frame, all together; a hidden page, which draws no frames, draws them at once.
    finish() {
      if (this.drawQueued) {
        return;
      }
      this.drawQueued = true;
      if (!this.frameQueued || document.hidden) {
        queueMicrotask(() => this.drawQueued && this.draw());
      }
    }

    // The keys one can see, in order.
    shown() {
      if (this.shownKeys === null) {
        this.shownKeys = this.query.trim()
          ? this.order.keys.filter((key) => this.order.matches(key, this.query))
          : this.order.keys.slice();
      }
      return this.shownKeys;
    }

    isShown(key) {
      return Boolean(key) && this.order.matches(key, this.query);
    }

    hasFocus(key) {
      const row = this.rows.get(key);
      return Boolean(row) && row.contains(document.activeElement);
    }

    // Builds the rows in view (and the one in the Tab order), each at its place in the whole
    // list; the others are not built. Then one row in the Tab order, the empty line, the drop
    // regions.
    draw() {
      this.drawQueued = false;
      if (!this.isShown(this.active)) {
        this.active = this.nearestShown(0);
      }
      const keys = this.shown();
      const listFocused = this.list.contains(document.activeElement);
      this.list.style.height = keys.length ? keys.length * this.pitch - rowGap + "px" : "";
      this.keepAnchor(keys);
      const wanted = this.keysInView(keys);
      for (const [key, row] of this.rows) {
        if (this.stale.has(key) || !wanted.has(key)) {
          row.remove();
          this.rows.delete(key);
        }
      }
      this.stale.clear();
      let next = this.list.firstElementChild;
      for (const [key, index] of wanted) {
        let row = this.rows.get(key);
        if (!row) {
          row = Velto.view.peerRow(this.infos.get(key));
          this.rows.set(key, row);
        }
        if (row === next) {
          next = row.nextElementSibling;
        } else {
          this.list.insertBefore(row, next);
        }
        const tabIndex = key === this.active ? 0 : -1;
        if (row.tabIndex !== tabIndex) {
          row.tabIndex = tabIndex;
        }
        setAttribute(row, "aria-posinset", index + 1);
        setAttribute(row, "aria-setsize", keys.length);
      }
      this.place();
      if (listFocused && this.active && !this.hasFocus(this.active)) {
        this.rows.get(this.active).focus({ preventScroll: true });
      }
      this.empty.hidden = Boolean(this.active);
      this.empty.textContent = this.query.trim()
        ? Velto.t("No computer matches “{query}”", { query: this.query.trim() })
        : Velto.t("Looking for other computers…");
      this.moved();
      this.awaitFrame();
    }

    // Draws waiting changes at once: the user's own choices show without waiting for a frame.
    drawNow() {
      if (this.drawQueued) {
        this.draw();
      }
    }

    // The next frame draws what changed since, and ends the update's timing after its layout.
    awaitFrame() {
      if (this.frameQueued) {
        return;
      }
      this.frameQueued = true;
      requestAnimationFrame(() => {
        this.frameQueued = false;
        if (this.drawQueued) {
          this.draw();
        }
        this.endTiming();
      });
    }

    // The part of the list in view, in list coordinates.
    view() {
      const top = this.scrolled - this.listTop;
      return { top, bottom: top + this.viewHeight };
    }

    scrollTo(scrolled) {
      this.scrolled = Math.max(0, scrolled);
      this.scroller.scrollTop = this.scrolled;
    }

    // key -> index in the shown keys, in order: those in view with a margin, and the active one.
    keysInView(keys) {
      const { top, bottom } = this.view();
      const first = Math.max(0, Math.floor(top / this.pitch) - margin);
      const end = Math.min(keys.length, Math.ceil(bottom / this.pitch) + margin);
      const activeAt = this.active ? keys.indexOf(this.active) : -1;
      const wanted = [];
      if (activeAt >= 0 && activeAt < first) {
        wanted.push([this.active, activeAt]); // the Tab stop, and maybe the focus
      }
      for (let index = first; index < end; index++) {
        wanted.push([keys[index], index]);
      }
      if (activeAt >= end) {
        wanted.push([this.active, activeAt]);
      }
      return new Map(wanted);
    }

    // Each built row at its place (the list is already as tall as all its rows). The row
    // height is that of a drawn row (the text size may change it), as its size reports say
    // after a layout.
    place() {
      const sample = this.list.firstElementChild;
      if (sample && sample !== this.sample) {
        this.rowSize.disconnect();
        this.rowSize.observe(sample); // reports its height once laid out, and on every change
        this.sample = sample;
      }
      for (const row of this.list.children) {
        const top = (Number(row.getAttribute("aria-posinset")) - 1) * this.pitch + "px";
        if (row.style.top !== top) {
          row.style.top = top;
        }
      }
    }

    // Rows coming or going above the view do not move what one is looking at: the first row in
    // view stays where it was (not while the search changes, nor at the top of the list).
    keepAnchor(keys) {
      const before = this.drawnKeys;
      this.drawnKeys = keys;
      const top = this.view().top;
      if (keys === before || this.drawnQuery !== this.query || top <= 0) {
        this.drawnQuery = this.query;
        return;
      }
      const first = Math.ceil(top / this.pitch);
      const at = first < before.length ? keys.indexOf(before[first]) : -1;
      if (at >= 0 && at !== first) {
        this.scrollTo(this.scrolled + (at - first) * this.pitch);
      }
    }

    // The first key at or after the index that can be seen, else the last one before it.
    nearestShown(index) {
      const keys = this.order.keys;
      const after = keys.slice(Math.max(0, index)).find((key) => this.isShown(key));
      return after || keys.slice(0, Math.max(0, index)).reverse().find((key) => this.isShown(key)) || null;
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
      const row = this.rows.get(key);
      if (row) {
        row.tabIndex = 0;
      }
    }

    // Focuses that computer's row, scrolled into view.
    focus(key) {
      this.setActive(key);
      this.reveal(key);
      this.rows.get(key).focus({ preventScroll: true });
    }

    // Scrolls as little as needed for that computer's row to be in view, and draws it.
    reveal(key) {
      const at = this.shown().indexOf(key);
      const { top, bottom } = this.view();
      const rowTop = at * this.pitch;
      const rowBottom = rowTop + this.pitch - rowGap;
      if (at >= 0 && rowTop < top) {
        this.scrollTo(this.scrolled - Math.ceil(top - rowTop));
      } else if (at >= 0 && rowBottom > bottom) {
        this.scrollTo(this.scrolled + Math.ceil(rowBottom - bottom));
      }
      this.draw();
    }

    filter(query) {
      this.startTiming();
      this.query = query;
      this.shownKeys = null;
      this.finish();
    }

    // The rows that can be seen in the list's scrolling area, in order.
    rowsInView(clip) {
      return [...this.list.children].filter((row) => {
        const box = row.getBoundingClientRect();
        return box.top < clip.bottom && box.bottom > clip.top;
      });
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
      const shown = this.shown();
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
      const found = this.order.findByPrefix(prefix, start, (key) => this.isShown(key));
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

    // In the frame after the drawing, every change before it drawn.
    endTiming() {
      if (this.timing === null) {
        return;
      }
      this.list.getBoundingClientRect(); // style and layout done here
      const ms = performance.now() - this.timing;
      this.timing = null;
      console.info("page: peer list drawn in " + ms.toFixed(1) + " ms (" + this.order.size + " peers)");
    }
  }

  function setAttribute(element, name, value) {
    if (element.getAttribute(name) !== String(value)) {
      element.setAttribute(name, value); // an unchanged row costs no style work
    }
  }

  Velto.PeerList = PeerList;
})((window.Velto = window.Velto || {}));

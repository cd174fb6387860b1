// Progress maths for one transfer: how far, how fast, and how to say it.
(function (Velto) {
  "use strict";

  // 0..1. By bytes when there are any; by elements otherwise (empty files and folders).
  function fraction(p) {
    if (!p) {
      return 0;
    }
    if (p.byteCount > 0) {
      return Math.min(1, Math.max(0, p.byteFinished / p.byteCount));
    }
    if (p.itemCount > 0) {
      return Math.min(1, Math.max(0, p.itemFinished / p.itemCount));
    }
    return 0;
  }

  const units = ["B", "KB", "MB", "GB", "TB"];

  function formatBytes(bytes) {
    let value = Math.max(0, Number(bytes) || 0);
    let unit = 0;
    while (value >= 1000 && unit < units.length - 1) {
      value /= 1000;
      unit += 1;
    }
    const digits = unit === 0 || value >= 100 ? 0 : value >= 10 ? 1 : 2;
    return value.toFixed(digits) + " " + units[unit];
  }

  function formatRate(bytesPerSecond) {
    if (!(bytesPerSecond > 0) || !isFinite(bytesPerSecond)) {
      return "";
    }
    return formatBytes(bytesPerSecond) + "/s";
  }

  function formatDuration(seconds) {
    if (!(seconds >= 0) || !isFinite(seconds)) {
      return "";
    }
    if (seconds < 60) {
      return Math.max(1, Math.round(seconds)) + " s";
    }
    const minutes = Math.floor(seconds / 60);
    if (minutes < 60) {
      return minutes + " min " + Math.round(seconds % 60) + " s";
    }
    return Math.floor(minutes / 60) + " h " + (minutes % 60) + " min";
  }

  // The rate over the last few seconds of samples, so that it follows changes without jumping
  // with every chunk.
  class RateMeter {
    constructor(windowMs) {
      this.windowMs = windowMs || 3000;
      this.samples = [];
    }

    add(timeMs, bytes) {
      this.samples.push({ time: timeMs, bytes });
      while (this.samples.length > 2 && timeMs - this.samples[0].time > this.windowMs) {
        this.samples.shift();
      }
    }

    // Bytes per second over the window; 0 until two samples are apart in time.
    rate() {
      if (this.samples.length < 2) {
        return 0;
      }
      const a = this.samples[0];
      const b = this.samples[this.samples.length - 1];
      const seconds = (b.time - a.time) / 1000;
      return seconds > 0 ? Math.max(0, (b.bytes - a.bytes) / seconds) : 0;
    }

    // Seconds left at the current rate, or null when unknown.
    remaining(bytesLeft) {
      const rate = this.rate();
      return rate > 0 ? bytesLeft / rate : null;
    }
  }

  Velto.progress = { fraction, formatBytes, formatRate, formatDuration, RateMeter };
})((globalThis.Velto = globalThis.Velto || {}));

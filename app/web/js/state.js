// What the page knows, apart from how it is drawn: this computer, the peers on the network, the
// conversation on show, the stored conversations and the live rate of every transfer; and what
// each event of the program and each send does to it. No DOM here: the page's drawing
// subscribes to the changes, and node runs the same file in the tests.
//
// A change a subscriber gets, one of:
//   {type: "selected", key}                   another conversation is on show
//   {type: "peer", key, peer}                 a peer appeared or changed
//   {type: "peer-removed", key}               a peer left the network
//   {type: "message-added", peerKey, message} a new message at the end of a conversation
//   {type: "message-changed", peerKey, message} a transfer's message moved on
//   {type: "settings", settings}              the receiving settings changed
(function (Velto) {
  "use strict";

  function baseName(path) {
    const trimmed = String(path || "").replace(/\/+$/, "");
    return trimmed.slice(trimmed.lastIndexOf("/") + 1) || trimmed;
  }

  function randomKey() {
    const random = globalThis.crypto.getRandomValues(new Uint32Array(2));
    return "page-" + Date.now().toString(36) + "-" + random[0].toString(36) + random[1].toString(36);
  }

  const saveDelayMs = 400;
  const rateWindowMs = 3000;
  // A transfer shorter or smaller than this ends without a rate: its figure would mean nothing.
  const rateMinimumMs = 1000;
  const rateMinimumBytes = 1024 * 1024;

  class PageState {
    // storage: where the conversations live (the page's local storage);
    // post(command, data, reply): a command to the program.
    // Tests may replace the clocks, the key maker and the history's per-peer limit.
    constructor({ storage, post, now, monotonic, newKey, perPeerLimit }) {
      this.post = post;
      this.now = now || Date.now;
      this.monotonic = monotonic || (() => performance.now());
      this.newKey = newKey || randomKey;
      this.self = { signature: "", addresses: [] };
      this.peers = new Map(); // key -> peer dictionary, for peers on the network now
      this.selected = null;
      this.history = new Velto.History(storage, { perPeerLimit }).load();
      this.meters = new Map(); // transfer key -> RateMeter
      // What the program says of receiving: {receiveMode, modeSecondsLeft, visible,
      // receiveFolder, trusted: [{address, signature}], blocked: [...]}; null until it said.
      this.settings = null;
      this.listeners = [];
      this.saveTimer = null;
    }

    subscribe(listener) {
      this.listeners.push(listener);
    }

    emit(change) {
      for (const listener of this.listeners) {
        listener(change);
      }
    }

    // ---- saving: often during transfers, so at most every saveDelayMs; at once when one ends

    saveSoon() {
      if (this.saveTimer) {
        return;
      }
      this.saveTimer = setTimeout(() => {
        this.saveTimer = null;
        this.history.save();
      }, saveDelayMs);
    }

    saveNow() {
      clearTimeout(this.saveTimer);
      this.saveTimer = null;
      this.history.save();
    }

    // ---- what the page starts from

    setSelf(self) {
      this.self = { signature: self.signature || "", addresses: self.addresses || [] };
    }

    setPeers(peers) {
      for (const [key, peer] of Object.entries(peers || {})) {
        this.peers.set(key, peer);
        this.history.rememberPeer(key, peer.systemSignature, this.now());
      }
    }

    // A conversation shows for a peer on the network, or one with messages kept.
    hasConversation(key) {
      return Boolean(key) && (this.peers.has(key) || this.history.messages(key).length > 0);
    }

    select(key) {
      this.selected = key;
      if (key && this.history.markRead(key)) {
        this.saveSoon();
      }
      this.emit({ type: "selected", key });
    }

    // Rate and time left of a transfer under way, or null.
    live(message) {
      const meter = this.meters.get(message.key);
      if (!meter || message.state !== "active") {
        return null;
      }
      const p = message.progress || {};
      return { rate: meter.rate(), remaining: p.byteCount > 0 ? meter.remaining(p.byteCount - p.byteFinished) : null };
    }

    addMessage(peerKey, message) {
      message.id = message.id || this.newKey();
      message.time = message.time || this.now();
      if (message.dir === "in" && peerKey !== this.selected) {
        message.unread = true;
      }
      this.history.add(peerKey, message);
      this.emit({ type: "message-added", peerKey, message });
      this.saveSoon();
      return message;
    }

    // ---- sending

    // True when the text went out to a peer on the network.
    sendText(key, text) {
      if (!text.trim() || !key || !this.peers.has(key)) {
        return false;
      }
      const transferKey = this.newKey();
      this.addMessage(key, { dir: "out", kind: "text", text, key: transferKey, state: "waiting" });
      this.post("sendText", { key, text, transferKey }, () => {});
      return true;
    }

    sendFiles(key, paths) {
      if (!paths.length || !this.peers.has(key)) {
        return;
      }
      const transferKey = this.newKey();
      this.addMessage(key, {
        dir: "out",
        kind: "files",
        files: paths.map((path) => ({ name: baseName(path), path })),
        key: transferKey,
        state: "waiting",
      });
      // An unknown peer is never answered, so nothing here waits for the answer.
      this.post("sendFiles", { key, files: paths, transferKey });
      this.describeFiles(transferKey);
    }

    // Something dropped on a peer's row or conversation: files when the drag carries any; else
    // its text, as a message. The conversation comes on show first.
    dropOn(data) {
      const files = Array.isArray(data.files) ? data.files : [];
      const text = typeof data.plainText === "string" ? data.plainText : "";
      if (data.type !== "object" || !this.peers.has(data.name) || (!files.length && !text.trim())) {
        return;
      }
      if (this.selected !== data.name) {
        this.select(data.name);
      }
      if (files.length) {
        this.sendFiles(data.name, files);
      } else {
        this.sendText(data.name, text);
      }
    }

    // ---- answers to a question, and cancelling

    // Accept or decline an incoming transfer that waits for the user.
    answer(key, accept) {
      const found = this.history.findTransfer(key);
      if (!found || found.message.state !== "asking") {
        return;
      }
      this.withTransfer(key, (message) => {
        message.state = accept ? "active" : "declined";
        delete message.question;
      });
      this.post(accept ? "acceptTransfer" : "declineTransfer", { key });
    }

    // Stops a transfer under way, sent or received; the program reports how it ended.
    cancel(key) {
      const found = this.history.findTransfer(key);
      if (found && !endedStates.has(found.message.state)) {
        this.post("cancelTransfer", { key });
      }
    }

    setSettings(settings) {
      this.settings = settings || null;
      this.emit({ type: "settings", settings: this.settings });
    }

    // ---- events from the program

    // Applies one event; false when it is none of the state's.
    apply(event, data) {
      const handler = transitions[event];
      if (!handler) {
        return false;
      }
      handler.call(this, data || {});
      return true;
    }

    onPeer(key, peer) {
      this.peers.set(key, peer);
      this.history.rememberPeer(key, peer.systemSignature, this.now());
      this.saveSoon();
      this.emit({ type: "peer", key, peer });
    }

    // The message of a transfer that begins to arrive; a sender not on the list joins it.
    addIncoming(peer, fields) {
      if (!this.peers.has(peer.key)) {
        this.onPeer(peer.key, peer);
      }
      this.addMessage(peer.key, { dir: "in", kind: "pending", files: [], startedAt: this.now(), ...fields });
    }

    withTransfer(key, change) {
      const found = this.history.findTransfer(key);
      if (!found) {
        return;
      }
      change(found.message);
      this.emit({ type: "message-changed", peerKey: found.peerKey, message: found.message });
      this.saveSoon();
    }

    meterFor(key) {
      let meter = this.meters.get(key);
      if (!meter) {
        meter = new Velto.progress.RateMeter(rateWindowMs);
        this.meters.set(key, meter);
      }
      return meter;
    }

    finish(key, outcome) {
      this.withTransfer(key, (message) => {
        if (endedStates.has(message.state)) {
          return;
        }
        message.state = outcome;
        const p = message.progress;
        const elapsed = this.now() - (message.startedAt || this.now());
        if (outcome === "done" && p && p.byteFinished >= rateMinimumBytes && elapsed >= rateMinimumMs) {
          // From the connection to the end: a fast transfer may report its progress only once.
          message.averageRate = (p.byteFinished * 1000) / elapsed;
        }
        if (outcome === "done" && message.kind === "pending") {
          message.kind = "files"; // an incoming transfer that carried no element
        }
        this.meters.delete(key);
      });
      const found = this.history.findTransfer(key);
      if (outcome === "done" && found && found.message.dir === "in") {
        this.describeFiles(key);
      }
      this.saveNow();
    }

    // Which of a transfer's files are folders, and how many items each holds, as the program
    // finds them on disk; cb, if given, gets the program's answer.
    describeFiles(key, cb) {
      const found = this.history.findTransfer(key);
      const paths = found ? (found.message.files || []).map((file) => file.path).filter(Boolean) : [];
      if (!paths.length) {
        return;
      }
      this.post("describeFiles", { paths }, (answer) => {
        const described = new Map((Array.isArray(answer) ? answer : []).map((entry) => [entry.path, entry]));
        this.withTransfer(key, (message) => {
          for (const file of message.files || []) {
            const entry = described.get(file.path);
            if (entry && entry.folder) {
              file.folder = true;
              file.items = entry.items;
            }
          }
        });
        if (cb) {
          cb(described);
        }
      });
    }

    // Sends a message that was not delivered again, in its place. Files go again only when all
    // of them are still there; otherwise the message names those that are gone.
    retry(peerKey, id) {
      const message = this.history.messages(peerKey).find((m) => m.id === id);
      if (!message || message.dir !== "out" || !this.peers.has(peerKey) ||
          (message.state !== "failed" && message.state !== "cancelled")) {
        return;
      }
      if (message.kind === "text") {
        this.resend(peerKey, message, "sendText", { key: peerKey, text: message.text });
        return;
      }
      this.describeFiles(message.key, (described) => {
        const gone = message.files.filter((file) => !(described.get(file.path) || {}).exists);
        if (gone.length) {
          this.withTransfer(message.key, (m) => (m.gone = gone.map((file) => file.name)));
        } else if (message.state === "failed" || message.state === "cancelled") {
          this.resend(peerKey, message, "sendFiles", { key: peerKey, files: message.files.map((f) => f.path) });
        }
      });
    }

    resend(peerKey, message, command, data) {
      const transferKey = this.newKey();
      this.history.rekey(message.key, transferKey);
      for (const field of ["failOutcome", "failReason", "progress", "skipped", "nothingSent", "interrupted",
                           "waitingForAnswer", "averageRate", "gone", "renamed", "startedAt"]) {
        delete message[field];
      }
      Object.assign(message, { key: transferKey, state: "waiting" });
      this.emit({ type: "message-changed", peerKey, message });
      this.saveSoon();
      this.post(command, { ...data, transferKey }, () => {});
    }
  }

  // A message in one of these states is over; a later report does not change it.
  const endedStates = new Set(["done", "failed", "cancelled", "declined"]);

  // A transfer that makes progress is under way, also one whose question was answered in the
  // desktop notification.
  function activate(message) {
    if (message.state === "waiting" || message.state === "asking") {
      message.state = "active";
      delete message.question;
    }
  }

  // Called with the state as `this`.
  const transitions = {
    "peer-added": function (data) {
      this.onPeer(data.key, data.peer);
    },
    "peer-modified": function (data) {
      this.onPeer(data.key, data.peer);
    },
    "peer-removed": function (data) {
      this.peers.delete(data.key);
      this.emit({ type: "peer-removed", key: data.key });
    },
    "transfer-connected": function (data) {
      this.withTransfer(data.key, (message) => {
        activate(message);
        message.startedAt = this.now();
      });
    },
    "transfer-progress": function (data) {
      this.meterFor(data.key).add(this.monotonic(), data.byteFinished);
      this.withTransfer(data.key, (message) => {
        activate(message);
        message.progress = {
          itemCount: data.itemCount,
          itemFinished: data.itemFinished,
          byteCount: data.byteCount,
          byteFinished: data.byteFinished,
          filename: data.filename || (message.progress && message.progress.filename) || null,
        };
      });
    },
    // What a send of files left out (cannot be read, gone...); when nothing was left, nothing
    // went out and a "transfer-failed" follows.
    "transfer-skipped": function (data) {
      this.withTransfer(data.key, (message) => {
        message.skipped = (data.skipped || []).map((left) => ({ path: left.path, reason: left.reason }));
        message.nothingSent = Boolean(data.nothingLeft);
      });
    },
    "transfer-renamed": function (data) {
      this.withTransfer(data.key, (message) => {
        message.renamed = data.names;
      });
    },
    "transfer-finished": function (data) {
      this.finish(data.key, "done");
    },
    // outcome: "failed", "cancelled" (this side cancelled it), "declined" (the receiver said no,
    // or nobody answered) or "refused" (not received from this sender); reason: in words.
    "transfer-failed": function (data) {
      const outcome = data.outcome === "cancelled" ? "cancelled" : "failed";
      this.withTransfer(data.key, (message) => {
        if (!endedStates.has(message.state)) {
          message.failOutcome = data.outcome || "failed";
          message.failReason = data.reason || "";
        }
      });
      this.finish(data.key, outcome);
    },
    // A send that has made no progress for a while: the receiver is probably asking its user.
    "transfer-waiting": function (data) {
      this.withTransfer(data.key, (message) => {
        message.waitingForAnswer = data.waiting !== false;
      });
    },
    // An incoming transfer of files or folders that waits for the user's answer.
    "transfer-asking": function (data) {
      const question = {
        itemCount: data.itemCount,
        totalSize: data.totalSize,
        firstName: data.firstName,
        secondsLeft: data.secondsLeft,
      };
      // Its first element names the card until the files arrive.
      const progress = { itemCount: data.itemCount, itemFinished: 0, byteCount: data.totalSize, byteFinished: 0, filename: data.firstName };
      if (this.history.findTransfer(data.key)) {
        this.withTransfer(data.key, (message) => {
          message.state = "asking";
          message.question = question;
          message.progress = progress;
        });
        return;
      }
      if (data.peer && data.peer.key) {
        this.addIncoming(data.peer, { key: data.key, state: "asking", question, progress });
      }
    },
    settings: function (data) {
      this.setSettings(data);
    },
    "transfer-incoming": function (data) {
      this.addIncoming(data.peer, { key: data.key, state: "active" });
    },
    "transfer-incoming-text": function (data) {
      this.withTransfer(data.key, (message) => {
        message.kind = "text";
        message.text = data.text;
      });
    },
    "transfer-incoming-file": function (data) {
      this.withTransfer(data.key, (message) => {
        message.kind = "files";
        message.files = (message.files || []).concat([{ name: baseName(data.path), path: data.path }]);
      });
    },
    "drag-on": function (data) {
      this.dropOn(data);
    },
    // Retry chosen in a message's menu.
    "retry-message": function (data) {
      this.retry(this.selected, data.id);
    },
  };

  Velto.PageState = PageState;
  Velto.PageState.baseName = baseName;
})(
  typeof module === "object" && module.exports
    ? (require("./i18n.js"), require("./progress.js"), require("./history.js"), (module.exports = globalThis.Velto))
    : (window.Velto = window.Velto || {})
);

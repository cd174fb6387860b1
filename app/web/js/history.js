// The conversations, kept in the page's storage so that they survive a restart.
//   peers:         key -> {signature, lastSeen}: who a conversation was with, even when gone
//   conversations: key -> [message], oldest first
// A message: {id, dir: "in"|"out", kind: "text"|"files"|"pending", text, files: [{name, path}],
// time, key (the transfer key), state: "waiting"|"active"|"asking"|"done"|"failed"|"cancelled"|
// "declined", progress, unread}.
(function (Velto) {
  "use strict";

  const storageKey = "velto.history.v1";
  const perPeerLimit = 300;

  function emptyData() {
    return { version: 1, peers: {}, conversations: {} };
  }

  class History {
    constructor(storage, options) {
      this.storage = storage;
      this.limit = (options && options.perPeerLimit) || perPeerLimit;
      this.data = emptyData();
      this.byTransfer = new Map();
    }

    // Reads what was stored. Transfers that were under way when the program ended cannot go
    // on: they are marked failed.
    load() {
      let stored = null;
      try {
        stored = JSON.parse(this.storage.getItem(storageKey) || "null");
      } catch (error) {
        console.error("stored conversations unreadable, starting afresh", error);
      }
      this.data = stored && stored.version === 1 ? stored : emptyData();
      this.data.peers = this.data.peers || {};
      this.data.conversations = this.data.conversations || {};
      this.byTransfer.clear();
      for (const [peerKey, messages] of Object.entries(this.data.conversations)) {
        for (const message of messages) {
          if (message.state === "waiting" || message.state === "active" || message.state === "asking") {
            message.state = "failed";
            message.interrupted = true;
          }
          if (message.key) {
            this.byTransfer.set(message.key, { peerKey, message });
          }
        }
      }
      return this;
    }

    save() {
      try {
        this.storage.setItem(storageKey, JSON.stringify(this.data));
        return true;
      } catch (error) {
        // Storage full: drop the older half of the longest conversation and try once more.
        const longest = Object.values(this.data.conversations).sort((a, b) => b.length - a.length)[0];
        if (longest && longest.length > 1) {
          longest.splice(0, Math.ceil(longest.length / 2));
          try {
            this.storage.setItem(storageKey, JSON.stringify(this.data));
            return true;
          } catch (again) {
            console.error("conversations not saved", again);
          }
        }
        return false;
      }
    }

    rememberPeer(peerKey, signature, timeMs) {
      this.data.peers[peerKey] = { signature: signature || peerKey, lastSeen: timeMs };
    }

    peer(peerKey) {
      return this.data.peers[peerKey] || null;
    }

    // Keys of every peer with a conversation, most recent activity first.
    conversationKeys() {
      const lastTime = (key) => {
        const messages = this.data.conversations[key];
        return messages.length ? messages[messages.length - 1].time : 0;
      };
      return Object.keys(this.data.conversations)
        .filter((key) => this.data.conversations[key].length > 0)
        .sort((a, b) => lastTime(b) - lastTime(a));
    }

    messages(peerKey) {
      return this.data.conversations[peerKey] || [];
    }

    add(peerKey, message) {
      const messages = this.data.conversations[peerKey] || (this.data.conversations[peerKey] = []);
      messages.push(message);
      if (message.key) {
        this.byTransfer.set(message.key, { peerKey, message });
      }
      while (messages.length > this.limit) {
        const dropped = messages.shift();
        if (dropped.key) {
          this.byTransfer.delete(dropped.key);
        }
      }
      return message;
    }

    // {peerKey, message} of a transfer key, or null.
    // A message sent again goes under its new transfer's key.
    rekey(oldKey, newKey) {
      const found = this.byTransfer.get(oldKey);
      if (found) {
        this.byTransfer.delete(oldKey);
        this.byTransfer.set(newKey, found);
      }
    }

    findTransfer(transferKey) {
      return this.byTransfer.get(transferKey) || null;
    }

    unreadCount(peerKey) {
      return this.messages(peerKey).filter((message) => message.unread).length;
    }

    markRead(peerKey) {
      let changed = false;
      for (const message of this.messages(peerKey)) {
        if (message.unread) {
          message.unread = false;
          changed = true;
        }
      }
      return changed;
    }

    clear(peerKey) {
      for (const message of this.messages(peerKey)) {
        if (message.key) {
          this.byTransfer.delete(message.key);
        }
      }
      delete this.data.conversations[peerKey];
    }
  }

  Velto.History = History;
  Velto.History.storageKey = storageKey;
})((globalThis.Velto = globalThis.Velto || {}));

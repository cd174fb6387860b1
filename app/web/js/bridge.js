// The page's side of the native bridge, over the web channel:
//   Velto.bridge.callHandler("velto", message, reply)  a command; reply gets the answer, if any
//   Velto.bridge.registerHandler("velto", handler)     handler(envelope) for every event
// The program hands events over in batches (the JSON text of an array, oldest first); each is
// dispatched on its own.
// Commands made before the channel is up wait for it. Events start flowing once the page calls
// listen(), so that a first snapshot (getPeers) can be taken before the deltas.
(function (Velto) {
  "use strict";

  const handlerName = "velto";
  const handlers = [];
  const pendingReplies = new Map();
  const waiting = [];
  let native = null;
  let nextCallId = 1;
  let listening = false;

  function whenConnected(action) {
    if (native) {
      action(native);
    } else {
      waiting.push(action);
    }
  }

  function callHandler(name, message, reply) {
    if (name !== handlerName) {
      throw new Error("no native handler named " + name);
    }
    const callId = nextCallId++;
    if (typeof reply === "function") {
      pendingReplies.set(callId, reply);
    }
    whenConnected((object) => object.post(message, callId));
  }

  // Promise form for code that waits on the answer. Commands that may stay unanswered
  // ("sendFiles" to an unknown peer) should use callHandler instead.
  function request(command, data) {
    return new Promise((resolve) => {
      const message = data === undefined ? { command } : { command, data };
      callHandler(handlerName, message, resolve);
    });
  }

  function registerHandler(name, handler) {
    if (name !== handlerName) {
      throw new Error("no native handler named " + name);
    }
    handlers.push(handler);
  }

  function listen() {
    if (listening) {
      return;
    }
    listening = true;
    whenConnected((object) => object.pageListening());
  }

  function deliverEvents(text) {
    for (const envelope of JSON.parse(text)) {
      deliverEvent(envelope);
    }
  }

  function deliverEvent(envelope) {
    for (const handler of handlers) {
      try {
        handler(envelope, function () {});
      } catch (error) {
        console.error("event handler failed:", envelope && envelope.event, error);
      }
    }
  }

  function deliverReply(callId, value) {
    const reply = pendingReplies.get(callId);
    if (!reply) {
      return;
    }
    pendingReplies.delete(callId);
    reply(value);
  }

  function connect() {
    if (typeof QWebChannel !== "function" || typeof qt === "undefined") {
      console.error("the native bridge is not available");
      return;
    }
    new QWebChannel(qt.webChannelTransport, (channel) => {
      const object = channel.objects.velto;
      object.replyReady.connect(deliverReply);
      object.eventsReady.connect(deliverEvents);
      native = object;
      for (const action of waiting.splice(0)) {
        action(object);
      }
    });
  }

  // The synchronous channel: alert() returns only after the native side applied the message.
  // The engine cuts an alert's text at about 10,000 characters, so a longer message goes in
  // parts: every part but the last under the part marker, the last under the event marker.
  const syncMarker = "___VELTO___SYNC___EVENT___";
  const syncPartMarker = "___VELTO___SYNC___PART___";
  const syncPartLength = 3000; // UTF-16 units: under the cut even where it counts UTF-8 bytes
  function syncEvent(command, data) {
    const text = JSON.stringify({ command, data });
    let at = 0;
    while (text.length - at > syncPartLength) {
      let end = at + syncPartLength;
      const last = text.charCodeAt(end - 1);
      if (last >= 0xd800 && last < 0xdc00) {
        end -= 1; // never split a surrogate pair
      }
      window.alert(syncPartMarker + text.slice(at, end));
      at = end;
    }
    window.alert(syncMarker + text.slice(at));
  }

  Velto.bridge = {
    callHandler,
    registerHandler,
    request,
    listen,
    syncEvent,
    syncMarker,
    syncPartMarker,
  };
  connect();
})((window.Velto = window.Velto || {}));

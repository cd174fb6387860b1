// The page's side of the native bridge, over the web channel:
//   Velto.bridge.callHandler("velto", message, reply)  a command; reply gets the answer, if any
//   Velto.bridge.registerHandler("velto", handler)     handler(envelope) for every event
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
      object.eventReady.connect(deliverEvent);
      native = object;
      for (const action of waiting.splice(0)) {
        action(object);
      }
    });
  }

  // The synchronous channel: alert() returns only after the native side applied the message.
  const syncMarker = "___VELTO___SYNC___EVENT___";
  function syncEvent(command, data) {
    window.alert(syncMarker + JSON.stringify({ command, data }));
  }

  Velto.bridge = { callHandler, registerHandler, request, listen, syncEvent, syncMarker };
  connect();
})((window.Velto = window.Velto || {}));

// The page: peers on the left, one conversation on the right, everything through the bridge.
(function (Velto) {
  "use strict";

  const bridge = Velto.bridge;
  const view = Velto.view;
  const $ = (id) => document.getElementById(id);

  const state = new Velto.PageState({
    storage: window.localStorage,
    post: (command, data, reply) => bridge.callHandler("velto", { command, data }, reply),
  });
  const drawn = { regions: [], dropTarget: null };

  // ---- helpers

  function describe(key) {
    const peer = state.peers.get(key);
    const remembered = state.history.peer(key);
    const signature = peer ? peer.systemSignature : remembered ? remembered.signature : key;
    const ip = peer ? peer.ip : key;
    const parsed = Velto.signature.parse(signature, ip);
    return {
      key,
      name: parsed.user,
      known: parsed.known,
      avatar: peer && peer.avatar,
      parsed,
      ip,
      online: Boolean(peer),
    };
  }

  window.addEventListener("beforeunload", () => state.saveNow());

  // ---- peer list

  // The computers on the network and those with a conversation; others have no row.
  function listed(key) {
    return state.peers.has(key) || state.history.messages(key).length > 0;
  }

  function rowInfo(key) {
    if (!listed(key)) {
      return null;
    }
    const info = describe(key);
    const messages = state.history.messages(key);
    info.recent = messages.length ? messages[messages.length - 1].time : 0;
    info.selected = key === state.selected;
    info.unread = key === state.selected ? 0 : state.history.unreadCount(key);
    return info;
  }

  const peerList = new Velto.PeerList({
    list: $("peer-list"),
    scroller: $("peer-scroll"),
    search: $("peer-search"),
    empty: $("peer-list-empty"),
    rowInfo,
    open: (key) => state.select(key),
    moved: () => scheduleRegions(),
  });

  function renderPeers() {
    peerList.reset(new Set([...state.peers.keys(), ...state.history.conversationKeys()]));
  }

  let selectedRow = null;
  function onSelected(key) {
    const before = selectedRow;
    selectedRow = key;
    peerList.update(before);
    peerList.update(key);
    peerList.drawNow();
    renderMain();
    if (key && state.peers.has(key)) {
      $("message-input").focus();
    }
  }

  // ---- main pane

  function renderMain() {
    const key = state.selected;
    const showConversation = state.hasConversation(key);
    $("empty-state").hidden = showConversation;
    $("conversation").hidden = !showConversation;
    if (showConversation) {
      renderConversationHeader();
      renderMessages(true);
    } else {
      renderEmptyState();
    }
    scheduleRegions();
  }

  function renderEmptyState() {
    const someone = state.peers.size > 0 || state.history.conversationKeys().length > 0;
    const nobodyHeard = Boolean(Velto.desktop && Velto.desktop.nobodyHeard());
    $("empty-title").textContent = nobodyHeard
      ? Velto.t("Nobody answered on this network")
      : someone ? Velto.t("Pick a computer to start")
        : Velto.t("Looking for other computers");
    if (Velto.desktop) {
      Velto.desktop.firewallHint().hidden = !nobodyHeard;
    }
    $("empty-text").textContent = someone
      ? Velto.t("Choose a computer on the left to send it a message, files or folders. You can also drop files right onto it.")
      : Velto.t("Computers running Velto on this network show up on the left by themselves. " +
        "Open Velto on the other computer, and make sure both are on the same network.");
    $("empty-state").classList.toggle("searching", !someone);
    const addresses = state.self.addresses;
    $("empty-self").textContent = addresses.length
      ? Velto.t("This computer's address: {addresses}", { addresses: addresses.join(", ") })
      : "";
  }

  function renderConversationHeader() {
    const info = describe(state.selected);
    view.fillAvatar($("conversation-avatar"), { name: info.name, known: info.known, avatar: info.avatar, seed: info.key });
    $("conversation-name").textContent = info.name;
    $("conversation-detail").replaceChildren(...view.detailParts(info.parsed, info.ip, ""));
    const presence = $("conversation-presence");
    presence.textContent = info.online ? Velto.t("On the network") : Velto.t("Away");
    presence.className = "presence " + (info.online ? "online" : "away");
    const input = $("message-input");
    input.disabled = !info.online;
    input.placeholder = info.online ? Velto.t("Write a message") : Velto.t("{name} is away", { name: info.name });
    $("attach").disabled = !info.online;
    $("composer").classList.toggle("disabled", !info.online);
    renderMarks(info);
    const note = $("composer-note");
    note.hidden = info.online;
    note.textContent = info.online
      ? ""
      : Velto.t("{name} is away: messages can be sent when it is back. The conversation stays here.", {
          name: info.name,
        });
    updateSendButton();
  }

  function renderMessages(scrollToEnd) {
    const scroller = $("messages");
    const inner = $("messages-inner");
    const atEnd = scroller.scrollHeight - scroller.scrollTop - scroller.clientHeight < 40;
    const focused = messageKeys.focusedId();
    inner.textContent = "";
    const messages = state.history.messages(state.selected);
    if (messages.length === 0) {
      const hint = view.el("div", "conversation-empty");
      hint.appendChild(view.el("div", "conversation-empty-title", Velto.t("No messages yet")));
      hint.appendChild(
        view.el("div", null, Velto.t("Write a message below, attach files or folders, or drop them anywhere here."))
      );
      inner.appendChild(hint);
    }
    let lastDay = "";
    const now = Date.now();
    for (const message of messages) {
      const day = view.dayLabel(message.time, now);
      if (day !== lastDay) {
        inner.appendChild(view.el("div", "day", day));
        lastDay = day;
      }
      inner.appendChild(view.message(message, state.live(message), describe(state.selected).name, state.peers.has(state.selected)));
    }
    messageKeys.settle(focused);
    if (scrollToEnd || atEnd) {
      scroller.scrollTop = scroller.scrollHeight;
    }
  }

  // Replaces one message's element in place; progress updates come often.
  function refreshMessage(peerKey, message) {
    if (peerKey !== state.selected || $("conversation").hidden) {
      return;
    }
    const old = $("messages-inner").querySelector('[data-id="' + CSS.escape(message.id) + '"]');
    if (!old) {
      renderMessages(false);
      return;
    }
    const scroller = $("messages");
    const atEnd = scroller.scrollHeight - scroller.scrollTop - scroller.clientHeight < 40;
    const focused = messageKeys.focusedId();
    old.replaceWith(view.message(message, state.live(message), describe(peerKey).name, state.peers.has(peerKey)));
    messageKeys.settle(focused);
    if (atEnd) {
      scroller.scrollTop = scroller.scrollHeight;
    }
  }

  let pendingRefresh = new Map();
  function refreshSoon(peerKey, message) {
    pendingRefresh.set(message.id, [peerKey, message]);
    if (pendingRefresh.size === 1) {
      requestAnimationFrame(() => {
        const batch = pendingRefresh;
        pendingRefresh = new Map();
        for (const [key, item] of batch.values()) {
          refreshMessage(key, item);
        }
      });
    }
  }

  function onMessageAdded(peerKey) {
    if (peerKey === state.selected) {
      if ($("conversation").hidden) {
        renderMain();
      } else {
        renderMessages(true);
      }
    }
    peerList.update(peerKey);
  }

  // ---- sending

  function sendText() {
    const input = $("message-input");
    if (!state.sendText(state.selected, input.value)) {
      return;
    }
    input.value = "";
    autoGrow();
    updateSendButton();
  }

  async function chooseAndSend() {
    const key = state.selected;
    if (!key || !state.peers.has(key)) {
      return;
    }
    const paths = await bridge.request("showOpenPanel");
    if (Array.isArray(paths) && paths.length) {
      state.sendFiles(key, paths);
    }
  }

  // ---- drawing what changed, and the drag events that concern the drawing alone

  function onPeer(key, peer) {
    peerList.update(key);
    if (state.selected === key) {
      renderConversationHeader();
    } else if (!state.selected) {
      renderEmptyState();
    }
    helloAnswered(key, peer);
  }

  function onPeerRemoved(key) {
    peerList.update(key);
    if (state.selected === key) {
      renderMain();
    } else if (!state.selected) {
      renderEmptyState();
    }
  }

  const drawings = {
    settings: () => renderSettings(),
    selected: (change) => onSelected(change.key),
    peer: (change) => onPeer(change.key, change.peer),
    "peer-removed": (change) => onPeerRemoved(change.key),
    "message-added": (change) => onMessageAdded(change.peerKey),
    "message-changed": (change) => refreshSoon(change.peerKey, change.message),
  };
  state.subscribe((change) => drawings[change.type](change));

  // The state takes the events that change it; dragging over the window and the desktop's
  // colours only change the drawing.
  const dragHandlers = {
    appearance: (data) => Velto.appearance.show(Boolean(data.dark)),
    // "drag-update" gives window coordinates with the origin at the bottom left.
    "drag-update": (data) =>
      showDropTarget(Velto.regions.hitTest(drawn.regions, Number(data.x), window.innerHeight - Number(data.y))),
    "drag-finish": () => showDropTarget(null),
    "drag-on": () => showDropTarget(null),
  };

  function onEvent(envelope) {
    const data = envelope.data || {};
    const handler = dragHandlers[envelope.event];
    if (handler) {
      handler(data);
    }
    state.apply(envelope.event, data);
  }

  // ---- drop regions

  function computeRegions() {
    const entries = [];
    const input = $("message-input");
    const conversationOpen = !$("conversation").hidden && state.peers.has(state.selected);
    if (conversationOpen && !input.disabled) {
      entries.push({ rect: input.getBoundingClientRect(), type: "original", name: "message-input" });
    }
    const listClip = $("peer-scroll").getBoundingClientRect();
    for (const row of peerList.rowsInView(listClip)) {
      if (!state.peers.has(row.dataset.key)) {
        continue; // away: nothing can be sent to it
      }
      entries.push({ rect: row.getBoundingClientRect(), clip: listClip, type: "object", name: row.dataset.key });
    }
    if (conversationOpen) {
      entries.push({ rect: $("conversation").getBoundingClientRect(), type: "object", name: state.selected });
    }
    return Velto.regions.compute(entries, { width: window.innerWidth, height: window.innerHeight });
  }

  let regionsQueued = false;
  function scheduleRegions() {
    if (regionsQueued) {
      return;
    }
    regionsQueued = true;
    requestAnimationFrame(() => {
      regionsQueued = false;
      const regions = computeRegions();
      if (!Velto.regions.same(regions, drawn.regions)) {
        drawn.regions = regions;
        bridge.callHandler("velto", { command: "setDropableRegions", data: regions });
      }
    });
  }

  function showDropTarget(region) {
    const name = region && region.type === "object" ? region.name : null;
    if (name === drawn.dropTarget) {
      return;
    }
    drawn.dropTarget = name;
    for (const row of document.querySelectorAll(".peer.drop-target")) {
      row.classList.remove("drop-target");
    }
    const hint = $("drop-hint");
    hint.classList.remove("shown");
    if (!name) {
      return;
    }
    const row = document.querySelector('.peer[data-key="' + CSS.escape(name) + '"]');
    if (row) {
      row.classList.add("drop-target");
    }
    if (name === state.selected && !$("conversation").hidden) {
      $("drop-hint-name").textContent = describe(name).name;
      hint.classList.add("shown");
    }
  }

  // ---- context menu and dragging out

  function onContextMenu(event) {
    const node = event.target.closest(".message");
    const found = node && findMessage(node.dataset.id);
    if (!found) {
      bridge.syncEvent("setContextMenuPayload", { type: "none" });
      return;
    }
    const payload = {};
    if (view.retryable(found) && state.peers.has(state.selected)) {
      payload.retry = found.id;
    }
    if (found.kind === "text") {
      payload.text = found.text;
    } else {
      const paths = (found.files || []).map((file) => file.path).filter(Boolean);
      if (paths.length) {
        payload.file = paths;
      }
    }
    bridge.syncEvent("setContextMenuPayload", { type: "chat-history", payload });
  }

  function findMessage(id) {
    return state.history.messages(state.selected).find((message) => message.id === id) || null;
  }

  function onDragStart(event) {
    const card = event.target.closest && event.target.closest(".card.draggable");
    if (!card) {
      return;
    }
    event.preventDefault();
    const found = findMessage(card.closest(".message").dataset.id);
    const files = found ? (found.files || []).map((file) => file.path).filter(Boolean) : [];
    if (files.length) {
      bridge.callHandler("velto", { command: "dragStart", data: { files } }, () => {});
    }
  }

  // ---- composer

  function autoGrow() {
    const input = $("message-input");
    input.style.height = "auto";
    input.style.height = Math.min(input.scrollHeight, 160) + "px";
    scheduleRegions();
  }

  function updateSendButton() {
    const input = $("message-input");
    $("send").disabled = input.disabled || !input.value.trim();
  }

  // ---- add by address

  const ipv4 = /^(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(\.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3}$/;

  const answerWaitMs = 5000;
  let pendingHello = null; // { ip, status, onAnswer, timer }

  function showStatus(status, text, kind) {
    status.textContent = text;
    status.className = "form-status" + (kind ? " " + kind : "");
  }

  // The hello is an announcement, so a computer running Velto answers at once; the answer is
  // its peer event. onAnswer runs when it came.
  function sayHello(form, status, onAnswer) {
    const ip = form.elements.ip.value.trim();
    if (!ipv4.test(ip)) {
      showStatus(status, Velto.t("That is not an IPv4 address like 192.168.1.20."), "bad");
      return;
    }
    if (pendingHello) {
      clearTimeout(pendingHello.timer);
    }
    const hello = { ip, status, onAnswer, timer: 0 };
    pendingHello = hello;
    showStatus(status, Velto.t("Saying hello to {ip}…", { ip }), "");
    bridge.callHandler("velto", { command: "sayHello", data: { ip } }, (answer) => {
      renderAddedAddresses(answer.addedAddresses);
      if (pendingHello !== hello) {
        return; // answered already, or another hello followed
      }
      if (!answer.ok) {
        pendingHello = null;
        showStatus(status, answer.error, "bad");
        return;
      }
      showStatus(status, Velto.t("Said hello to {ip}. Waiting for its answer…", { ip }), "");
      hello.timer = setTimeout(() => {
        if (pendingHello === hello) {
          pendingHello = null;
          showStatus(
            status,
            Velto.t("No answer from {ip} within {seconds} seconds. Check the address, " +
              "and that Velto runs on that computer. Velto greets it again at every start.", { ip, seconds: answerWaitMs / 1000 }),
            "bad"
          );
        }
      }, answerWaitMs);
    });
  }

  function helloAnswered(key, peer) {
    const hello = pendingHello;
    if (!hello || hello.ip !== key) {
      return;
    }
    pendingHello = null;
    clearTimeout(hello.timer);
    const name = Velto.signature.parse(peer.systemSignature, key).user || key;
    showStatus(hello.status, Velto.t("{name} at {ip} answered.", { name, ip: key }), "good");
    if (hello.onAnswer) {
      hello.onAnswer();
    }
  }

  function renderAddedAddresses(addresses) {
    const list = $("added-addresses");
    list.replaceChildren();
    for (const ip of addresses || []) {
      const item = document.createElement("li");
      const label = document.createElement("span");
      label.textContent = ip;
      const forget = document.createElement("button");
      forget.type = "button";
      forget.className = "ghost-button";
      forget.textContent = Velto.t("Forget");
      forget.title = Velto.t("Stop greeting {ip} at every start", { ip });
      forget.addEventListener("click", () =>
        bridge.callHandler("velto", { command: "forgetAddress", data: { ip } }, (answer) => {
          renderAddedAddresses(answer.addedAddresses);
          if (!answer.ok) {
            showStatus($("address-status"), answer.error, "bad");
          }
        })
      );
      item.append(label, forget);
      list.append(item);
    }
    $("added-addresses-block").hidden = list.children.length === 0;
  }

  // ---- receiving: the mode, visibility, the folder, trusted and blocked computers

  const modeWords = {
    everyone: "Receiving from everyone",
    ask: "Asking before saving files",
    trusted: "Receiving from trusted computers only",
    off: "Receiving is off",
    "everyone-timed": "Receiving from everyone",
  };

  function settingsCommand(command, data) {
    bridge.callHandler("velto", { command, data }, (answer) => {
      if (answer && answer.settings) {
        state.setSettings(answer.settings);
      }
      showStatus($("settings-status"), answer && answer.ok === false ? answer.error : "", "bad");
    });
  }

  function minutesLeft(seconds) {
    const minutes = Math.max(1, Math.ceil(seconds / 60));
    return minutes === 1 ? Velto.t("1 minute left") : Velto.t("{minutes} minutes left", { minutes });
  }

  function isMarked(list, ip) {
    return (list || []).some((entry) => entry.address === ip);
  }

  // The header's Trust and Block for the computer on show.
  function renderMarks(info) {
    const settings = state.settings;
    const marks = $("conversation-marks");
    marks.hidden = !settings || !info.ip;
    if (marks.hidden) {
      return;
    }
    const trusted = isMarked(settings.trusted, info.ip);
    const trust = $("trust-peer");
    trust.textContent = Velto.t(trusted ? "Trusted" : "Trust");
    trust.setAttribute("aria-pressed", String(trusted));
    trust.title = trusted
      ? Velto.t("Files from {name} are saved without asking. Click to stop trusting.", { name: info.name })
      : Velto.t("Save files from {name} without asking", { name: info.name });
  }

  function renderEntries(listId, entries, undoLabel, undoCommand) {
    const list = $(listId);
    list.replaceChildren();
    for (const entry of entries || []) {
      const item = document.createElement("li");
      const name = entry.signature ? Velto.signature.parse(entry.signature, entry.address).user : "";
      item.append(view.el("span", null, name ? name + " · " + entry.address : entry.address));
      const undo = view.el("button", "ghost-button small", Velto.t(undoLabel));
      undo.type = "button";
      undo.addEventListener("click", () => settingsCommand(undoCommand, { ip: entry.address }));
      item.append(undo);
      list.append(item);
    }
    if (!list.children.length) {
      list.append(view.el("li", "list-empty", Velto.t("None")));
    }
  }

  function renderSettings() {
    const settings = state.settings;
    const status = $("receive-status");
    status.hidden = !settings;
    if (!settings) {
      return;
    }
    const timed = settings.receiveMode === "everyone-timed" && settings.modeSecondsLeft > 0;
    let words = Velto.t(modeWords[settings.receiveMode] || modeWords.everyone);
    if (timed) {
      words += " · " + minutesLeft(settings.modeSecondsLeft);
    }
    if (!settings.visible) {
      words += " · " + Velto.t("hidden");
    }
    $("receive-status-text").textContent = words;
    for (const radio of document.querySelectorAll("#receive-modes input")) {
      radio.checked = radio.value === settings.receiveMode;
    }
    $("timed-left").textContent = timed ? "(" + minutesLeft(settings.modeSecondsLeft) + ")" : "";
    $("visible-setting").checked = Boolean(settings.visible);
    $("receive-folder").textContent = settings.receiveFolder;
    $("receive-folder").title = settings.receiveFolder;
    renderEntries("trusted-list", settings.trusted, "Stop trusting", "untrust");
    renderEntries("blocked-list", settings.blocked, "Unblock", "unblock");
    if (state.selected) {
      renderMarks(describe(state.selected));
    }
  }

  function wireSettings() {
    const dialog = $("settings-dialog");
    $("receive-status").addEventListener("click", () => {
      showStatus($("settings-status"), "", "");
      renderSettings();
      dialog.showModal();
    });
    $("settings-done").addEventListener("click", () => dialog.close());
    for (const radio of document.querySelectorAll("#receive-modes input")) {
      radio.addEventListener("change", () => settingsCommand("setSetting", { key: "receive-mode", value: radio.value }));
    }
    $("visible-setting").addEventListener("change", (event) =>
      settingsCommand("setSetting", { key: "visible", value: event.target.checked ? "yes" : "no" })
    );
    $("choose-folder").addEventListener("click", () => settingsCommand("chooseReceiveFolder"));
    $("trust-peer").addEventListener("click", () => {
      const ip = describe(state.selected).ip;
      settingsCommand(isMarked(state.settings && state.settings.trusted, ip) ? "untrust" : "trust", { ip });
    });
    $("block-peer").addEventListener("click", () => settingsCommand("block", { ip: describe(state.selected).ip }));
    // A timed mode counts down in the status line.
    setInterval(() => {
      const settings = state.settings;
      if (settings && settings.receiveMode === "everyone-timed" && settings.modeSecondsLeft > 0) {
        bridge.callHandler("velto", { command: "getSettings" }, (answer) => state.setSettings(answer.settings));
      }
    }, 30000);
  }

  // A received file or folder opens in the desktop's application for it.
  function openMessage(node) {
    const found = findMessage(node.dataset.id);
    if (found && view.opensFiles(found)) {
      const path = found.files.find((file) => file.path).path;
      bridge.callHandler("velto", { command: "openFile", data: { path } }, () => {});
    }
  }
  const messageKeys = Velto.conversationKeys.wire($("messages-inner"), openMessage);

  // Accept, Decline, Cancel and Retry on a transfer's message.
  function onMessageAction(event) {
    const button = event.target.closest("button[data-action]");
    const node = button && button.closest(".message");
    const found = node && findMessage(node.dataset.id);
    if (!found || !found.key) {
      return;
    }
    if (button.dataset.action === "retry") {
      state.retry(state.selected, found.id);
    } else if (button.dataset.action === "cancel") {
      state.cancel(found.key);
    } else {
      state.answer(found.key, button.dataset.action === "accept");
    }
  }

  // ---- identity

  function renderSelf() {
    const parsed = Velto.signature.parse(state.self.signature, "");
    view.fillAvatar($("self-avatar"), { name: parsed.user, known: true, seed: state.self.signature });
    $("self-name").textContent = parsed.computer ? parsed.user + " · " + parsed.computer : parsed.user || Velto.t("This computer");
    $("self-detail").textContent = state.self.addresses.length ? state.self.addresses.join(", ") : Velto.t("No network");
    $("self-card").title = Velto.t("This computer: {signature}", { signature: state.self.signature });
    renderEmptyState();
  }

  // ---- wiring

  function wire() {
    const input = $("message-input");
    input.addEventListener("keydown", (event) => {
      if (event.key === "Enter" && !event.shiftKey && !event.isComposing) {
        event.preventDefault();
        sendText();
      }
    });
    input.addEventListener("input", () => {
      autoGrow();
      updateSendButton();
    });
    $("send").addEventListener("click", sendText);
    $("attach").addEventListener("click", chooseAndSend);
    $("messages").addEventListener("scroll", scheduleRegions, { passive: true });
    $("peer-scroll").addEventListener("scroll", scheduleRegions, { passive: true });
    window.addEventListener("resize", scheduleRegions);
    new ResizeObserver(scheduleRegions).observe(document.body);
    document.addEventListener("contextmenu", onContextMenu);
    $("messages-inner").addEventListener("click", onMessageAction);
    wireSettings();
    document.addEventListener("dragstart", onDragStart);

    const dialog = $("address-dialog");
    $("add-by-address").addEventListener("click", () => {
      $("address-status").textContent = "";
      bridge.callHandler("velto", { command: "getAddedAddresses" }, (answer) =>
        renderAddedAddresses(answer.addedAddresses)
      );
      dialog.showModal();
    });
    $("address-cancel").addEventListener("click", () => dialog.close());
    $("address-form").addEventListener("submit", (event) => {
      event.preventDefault();
      sayHello(event.target, $("address-status"), () => setTimeout(() => dialog.open && dialog.close(), 1200));
    });
    $("empty-address-form").addEventListener("submit", (event) => {
      event.preventDefault();
      sayHello(event.target, $("empty-address-status"));
    });
  }

  async function start() {
    wire();
    renderPeers();
    renderMain();
    bridge.registerHandler("velto", onEvent);
    const [self, peers, language, appearance] = await Promise.all(
      ["getSelf", "getPeers", "getLanguage", "getAppearance"].map((command) => bridge.request(command))
    );
    Velto.appearance.show(Boolean(appearance && appearance.dark));
    if (language && language.catalog) {
      Velto.i18n.addCatalog(language.language, language.catalog);
      Velto.i18n.setLanguage(language.language);
      Velto.i18n.translateDocument(document.body);
    }
    state.setSelf(self);
    state.setPeers(peers);
    bridge.request("getSettings").then((answer) => state.setSettings(answer && answer.settings));
    bridge.listen();
    renderSelf();
    renderPeers();
    renderMain();
    document.body.classList.add("ready");
  }

  Velto.app = {
    state,
    peerList,
    select: (key) => state.select(key),
    sendFiles: (key, paths) => state.sendFiles(key, paths),
    computeRegions,
    renderMain,
    saveNow: () => state.saveNow(),
  };
  start();
})((window.Velto = window.Velto || {}));

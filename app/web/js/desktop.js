// The program's place on the desktop, as the page shows it: the picker that `velto --send`
// opens, "Start Velto when I log in" in the settings sheet, and the firewall hint of the empty
// state once nobody was heard for a while. Loaded after app.js.
(function (Velto) {
  "use strict";

  const t = Velto.t;
  const bridge = Velto.bridge;
  const state = Velto.app.state;
  const $ = (id) => document.getElementById(id);

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) {
      node.className = className;
    }
    if (text !== undefined) {
      node.textContent = text;
    }
    return node;
  }

  function baseName(path) {
    const trimmed = String(path).replace(/\/+$/, "");
    return trimmed.slice(trimmed.lastIndexOf("/") + 1) || trimmed;
  }

  // ---- the picker: which computer gets what `velto --send` was given

  const picker = { dialog: null, list: null, title: null, paths: [] };

  function buildPicker() {
    const dialog = el("dialog", "sheet send-picker");
    dialog.id = "send-picker";
    const body = el("form", "sheet-body");
    body.method = "dialog";
    picker.title = el("h2");
    picker.title.id = "send-picker-title";
    picker.list = el("ul", "picker-list");
    picker.list.id = "send-picker-list";
    picker.list.setAttribute("role", "listbox");
    picker.list.setAttribute("aria-labelledby", "send-picker-title");
    const actions = el("div", "sheet-actions");
    const cancel = el("button", "ghost-button", t("Cancel"));
    cancel.type = "button";
    cancel.id = "send-picker-cancel";
    cancel.addEventListener("click", () => dialog.close());
    actions.append(cancel);
    body.append(picker.title, picker.list, actions);
    dialog.append(body);
    document.body.append(dialog);
    picker.list.addEventListener("click", (event) => {
      const row = event.target.closest("[data-key]");
      if (row) {
        choose(row.dataset.key);
      }
    });
    picker.list.addEventListener("keydown", onPickerKey);
    picker.dialog = dialog;
  }

  function rows() {
    return [...picker.list.querySelectorAll("[data-key]")];
  }

  function onPickerKey(event) {
    const all = rows();
    const at = all.indexOf(document.activeElement);
    const moves = { ArrowDown: at + 1, ArrowUp: at - 1, Home: 0, End: all.length - 1 };
    if (event.key in moves && all.length) {
      event.preventDefault();
      all[Math.max(0, Math.min(all.length - 1, moves[event.key]))].focus();
    } else if ((event.key === "Enter" || event.key === " ") && at >= 0) {
      event.preventDefault();
      choose(all[at].dataset.key);
    }
  }

  function renderPicker() {
    const count = picker.paths.length;
    picker.title.textContent =
      count === 1
        ? t("Send “{name}” to…", { name: baseName(picker.paths[0]) })
        : t("Send {count} items to…", { count });
    const focusedKey = document.activeElement && document.activeElement.dataset.key;
    const keys = [...state.peers.keys()].sort((a, b) => nameOf(a).localeCompare(nameOf(b)));
    picker.list.replaceChildren();
    for (const key of keys) {
      const peer = state.peers.get(key);
      const row = el("li", "picker-row");
      row.dataset.key = key;
      row.tabIndex = 0;
      row.setAttribute("role", "option");
      const parsed = Velto.signature.parse(peer.systemSignature, peer.ip);
      row.append(el("span", "picker-name", parsed.user), el("span", "picker-detail", Velto.view.detailLine(parsed, peer.ip)));
      picker.list.append(row);
    }
    if (!keys.length) {
      picker.list.append(el("li", "list-empty", t("No computer on the network yet. They appear here as they answer.")));
    }
    const again = rows().find((row) => row.dataset.key === focusedKey) || rows()[0];
    if (again && picker.dialog.open) {
      again.focus();
    }
  }

  function nameOf(key) {
    const peer = state.peers.get(key);
    return Velto.signature.parse(peer ? peer.systemSignature : key, peer ? peer.ip : key).user;
  }

  function askWhereToSend(paths) {
    if (!picker.dialog) {
      buildPicker();
    }
    picker.paths = paths;
    if (!picker.dialog.open) {
      picker.dialog.showModal();
    }
    renderPicker();
  }

  // Like a drop on the computer's row: its conversation comes on show, everything goes at once.
  function choose(key) {
    if (!state.peers.has(key)) {
      return;
    }
    picker.dialog.close();
    state.select(key);
    state.sendFiles(key, picker.paths);
  }

  // ---- "Start Velto when I log in", in the settings sheet

  function addAutostartSetting() {
    const row = el("label", "switch-row");
    const box = el("input");
    box.type = "checkbox";
    box.id = "autostart-setting";
    row.append(box, " " + t("Start Velto when I log in"),
               el("small", null, t("Velto starts in the tray with the session, ready to receive.")));
    const status = el("p", "form-status");
    status.id = "autostart-status";
    status.setAttribute("role", "status");
    const visibleRow = $("visible-setting").closest("label");
    visibleRow.after(row, status);
    const refresh = () =>
      bridge.request("getAutostart").then((answer) => {
        box.checked = Boolean(answer && answer.autostart);
      });
    $("receive-status").addEventListener("click", refresh);
    box.addEventListener("change", () =>
      bridge.request("setAutostart", { enabled: box.checked }).then((answer) => {
        box.checked = Boolean(answer && answer.autostart);
        status.textContent = answer && answer.ok === false ? answer.error : "";
        status.className = "form-status" + (status.textContent ? " bad" : "");
      })
    );
    refresh();
  }

  // ---- the firewall hint: nobody heard since the start

  const hint = { due: false, heard: state.peers.size > 0, node: null };

  function addFirewallHint() {
    hint.node = el("div", "firewall-hint");
    hint.node.id = "firewall-hint";
    hint.node.hidden = true;
    $("empty-text").after(hint.node);
    state.subscribe((change) => {
      if (change.type === "peer") {
        hint.heard = true;
      }
      if ((change.type === "peer" || change.type === "peer-removed") && picker.dialog && picker.dialog.open) {
        renderPicker();
      }
    });
    bridge.request("getFirewallHint").then((answer) => {
      setTimeout(() => {
        hint.heard = hint.heard || state.peers.size > 0;
        hint.due = true;
        fillFirewallHint(answer || {});
        Velto.app.renderMain();
      }, Number(answer && answer.delaySeconds) * 1000);
    });
  }

  function fillFirewallHint(answer) {
    const words = answer.command
      ? t("A firewall may be dropping Velto's announcements. {firewall} is active on this computer; this command lets Velto through:", { firewall: answer.firewall })
      : t("A firewall may be dropping Velto's announcements. Allow {ports} in this computer's firewall.", { ports: answer.ports });
    hint.node.replaceChildren(el("p", null, words));
    if (answer.command) {
      const command = el("code", "firewall-command", answer.command);
      command.id = "firewall-command";
      hint.node.append(command);
    }
  }

  // Nothing was heard on the network since the start, for longer than the program allows.
  function nobodyHeard() {
    return hint.due && !hint.heard && state.peers.size === 0;
  }

  bridge.registerHandler("velto", (envelope) => {
    if (envelope.event === "send-request") {
      askWhereToSend((envelope.data && envelope.data.paths) || []);
    }
  });
  addAutostartSetting();
  addFirewallHint();

  Velto.desktop = { askWhereToSend, nobodyHeard, firewallHint: () => hint.node };
})((window.Velto = window.Velto || {}));

// Building the page's elements from plain data. No state lives here.
(function (Velto) {
  "use strict";

  function el(tag, className, text) {
    const node = document.createElement(tag);
    if (className) {
      node.className = className;
    }
    if (text !== undefined && text !== null) {
      node.textContent = text;
    }
    return node;
  }

  const svgNs = "http://www.w3.org/2000/svg";
  const iconPaths = {
    file: "M7 3h7l5 5v13H7z M14 3v5h5",
    files: "M9 3h7l4 4v11H9z M16 3v4h4 M5 7v14h11",
    check: "M5 12.5l4.5 4.5L19 7.5",
    alert: "M12 8v5 M12 16.5v.5 M10.3 4l-7.5 13a2 2 0 0 0 1.7 3h15a2 2 0 0 0 1.7-3L13.7 4a2 2 0 0 0-3.4 0z",
    inbox: "M4 13l2.5-8h11L20 13v6H4z M4 13h5l1 2h4l1-2h5",
    folder: "M3 6.5A1.5 1.5 0 0 1 4.5 5H9l2 2.5h8.5A1.5 1.5 0 0 1 21 9v9.5a1.5 1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 18.5z",
    image: "M4 5h16v14H4z M4 16l5-5 4 4 2.5-2.5L20 16 M15.5 9h.01",
    text: "M7 3h7l5 5v13H7z M14 3v5h5 M11 12l-2 2 2 2 M15 12l2 2-2 2",
    archive: "M7 3h7l5 5v13H7z M14 3v5h5 M11 4v2 M11 8v2 M11 12v2 M10 16h2v3h-2z",
    audio: "M9 18V6l10-2v12 M9 18a2.5 2.5 0 1 1-5 0a2.5 2.5 0 0 1 5 0z M19 16a2.5 2.5 0 1 1-5 0a2.5 2.5 0 0 1 5 0z",
    video: "M3 6h13v12H3z M16 10l5-3v10l-5-3z",
    document: "M7 3h7l5 5v13H7z M14 3v5h5 M10 12h6 M10 15h6 M10 18h4",
  };

  function icon(name, className) {
    const svg = document.createElementNS(svgNs, "svg");
    svg.setAttribute("viewBox", "0 0 24 24");
    svg.setAttribute("aria-hidden", "true");
    svg.setAttribute("class", "icon " + (className || ""));
    const path = document.createElementNS(svgNs, "path");
    path.setAttribute("d", iconPaths[name]);
    svg.appendChild(path);
    return svg;
  }

  // person: {name, known, avatar, seed}
  function fillAvatar(node, person) {
    node.textContent = "";
    node.style.background = "";
    if (person.avatar) {
      const image = el("img");
      image.src = person.avatar;
      image.alt = "";
      node.appendChild(image);
      node.classList.add("picture");
      return node;
    }
    node.classList.remove("picture");
    node.textContent = Velto.avatar.initials(person.name, person.known);
    node.style.background = Velto.avatar.colour(person.seed || person.name);
    return node;
  }

  function avatar(person, size) {
    return fillAvatar(el("div", "avatar" + (size ? " " + size : "")), person);
  }

  function detailLine(parsed, ip) {
    return [parsed.computer, parsed.platform, ip].filter(Boolean).join(" · ");
  }

  // A computer's name and platform (after a lead word, if any), cut with an ellipsis when they
  // are long, then its address, always whole.
  function detailParts(parsed, ip, lead) {
    const text = [lead, parsed.computer, parsed.platform].filter(Boolean).join(" · ");
    return [el("span", "detail-text", text ? text + " ·\u00a0" : ""), el("span", "detail-address", ip)];
  }

  // info: {key, name, known, avatar, parsed, ip, online, unread, selected}
  function peerRow(info) {
    const row = el("li", "peer" + (info.selected ? " selected" : "") + (info.online ? "" : " offline"));
    row.dataset.key = info.key;
    row.tabIndex = -1; // the list keeps one row in the Tab order
    row.setAttribute("role", "option");
    row.setAttribute("aria-selected", String(Boolean(info.selected)));
    const picture = avatar({ name: info.name, known: info.known, avatar: info.avatar, seed: info.key });
    if (info.online) {
      picture.appendChild(el("span", "online-dot"));
    }
    row.appendChild(picture);
    const text = el("div", "peer-text");
    text.appendChild(el("div", "peer-name", info.name));
    const detail = el("div", "peer-detail");
    detail.append(...detailParts(info.parsed, info.ip, info.online ? "" : Velto.t("Away")));
    text.appendChild(detail);
    row.appendChild(text);
    if (info.unread > 0) {
      row.appendChild(el("span", "badge", String(info.unread)));
    }
    return row;
  }

  function pad(n) {
    return String(n).padStart(2, "0");
  }

  function clock(date) {
    return pad(date.getHours()) + ":" + pad(date.getMinutes());
  }

  function dayLabel(timeMs, nowMs) {
    const date = new Date(timeMs);
    const today = new Date(nowMs);
    const startOfDay = (d) => new Date(d.getFullYear(), d.getMonth(), d.getDate()).getTime();
    const days = Math.round((startOfDay(today) - startOfDay(date)) / 86400000);
    if (days === 0) {
      return Velto.t("Today");
    }
    if (days === 1) {
      return Velto.t("Yesterday");
    }
    return date.toLocaleDateString(undefined, {
      weekday: "long",
      day: "numeric",
      month: "long",
      year: date.getFullYear() === today.getFullYear() ? undefined : "numeric",
    });
  }

  const baseName = Velto.PageState.baseName;

  // How a transfer that did not go through ended, as the program named it; any other failure
  // was stopped before its end by the other side or the network.
  const failWords = {
    declined: { out: "Declined by the receiver", in: "Declined" },
    refused: { out: "Refused by the receiver", in: "Refused" },
  }; // looked up in the page's language when shown

  // What the line under a transfer says, and its tone. peerName: the other side's name.
  function transferStatus(message, rate, remaining, peerName) {
    const p = message.progress || {};
    const P = Velto.progress;
    const out = message.dir === "out";
    if (out && message.waitingForAnswer && (message.state === "waiting" || message.state === "active")) {
      const words = peerName ? Velto.t("Waiting for {name} to accept", { name: peerName }) : Velto.t("Waiting for the receiver to accept");
      return { text: words, tone: "muted" };
    }
    switch (message.state) {
      case "waiting":
        return { text: Velto.t(out ? "Waiting…" : "Receiving…"), tone: "muted" };
      case "asking": {
        const q = message.question || {};
        const parts = [Velto.t("Wants to send {items}", { items: itemCount(q.itemCount) })];
        if (q.totalSize > 0) {
          parts.push(P.formatBytes(q.totalSize));
        }
        return { text: parts.join(" · "), tone: "muted" };
      }
      case "cancelled":
        return { text: Velto.t("Cancelled"), tone: "bad" };
      case "declined":
        return { text: Velto.t("Declined"), tone: "muted" };
      case "active": {
        if (!p.byteCount && !p.itemCount) {
          return { text: Velto.t(out ? "Connected…" : "Receiving…"), tone: "muted" };
        }
        const parts = [Math.floor(P.fraction(p) * 100) + "%"];
        if (p.byteCount > 0) {
          parts.push(Velto.t("{done} of {total}", { done: P.formatBytes(p.byteFinished), total: P.formatBytes(p.byteCount) }));
        }
        if (rate > 0) {
          parts.push(P.formatRate(rate));
        }
        if (remaining !== null && remaining !== undefined) {
          parts.push(Velto.t("{time} left", { time: P.formatDuration(remaining) }));
        }
        return { text: parts.join(" · "), tone: "muted" };
      }
      case "done": {
        const parts = [Velto.t(out ? "Sent" : "Received")];
        if (p.byteCount > 0) {
          parts.push(P.formatBytes(p.byteCount));
        }
        if (message.averageRate > 0) {
          parts.push(P.formatRate(message.averageRate));
        }
        return { text: parts.join(" · "), tone: "good" };
      }
      case "failed":
        if (message.failOutcome === "declined" && !out && message.failReason !== "declined") {
          return { text: Velto.t("Not answered in time"), tone: "bad" };
        }
        if (failWords[message.failOutcome]) {
          return { text: Velto.t(failWords[message.failOutcome][out ? "out" : "in"]), tone: "bad" };
        }
        if (message.nothingSent) {
          return { text: Velto.t("Nothing sent: none of it can be sent"), tone: "bad" };
        }
        if (message.interrupted) {
          return { text: Velto.t("Interrupted"), tone: "bad" };
        }
        if (message.failOutcome) {
          return { text: Velto.t(out ? "Not sent: stopped before the end" : "Stopped before the end"), tone: "bad" };
        }
        return { text: Velto.t(out ? "Not sent" : "Failed"), tone: "bad" };
      default:
        return { text: "", tone: "muted" };
    }
  }

  // Texts and names take their direction from their own first strong character.
  function bidi(node) {
    node.dir = "auto";
    return node;
  }

  function itemCount(count) {
    return count === 1 ? Velto.t("1 item") : Velto.t("{count} items", { count: count || 0 });
  }

  // The icon of a files message: a folder, the kind of a single file, or several files.
  function cardIcon(message) {
    const files = message.files || [];
    if (message.kind === "pending") {
      return "inbox";
    }
    if (files.length > 1) {
      return "files";
    }
    if (files.length === 1 && files[0].folder) {
      return "folder";
    }
    const name = files.length ? files[0].name : message.progress && message.progress.filename;
    const kind = Velto.fileKinds.kindOf(name);
    return kind === "other" ? "file" : kind;
  }

  // A message not delivered can go again; a retry needs the peer on the network.
  function retryable(message) {
    return message.dir === "out" && (message.kind === "text" || message.kind === "files") &&
      (message.state === "failed" || message.state === "cancelled");
  }

  function fileList(message) {
    const list = el("ul", "file-names");
    const files = message.files || [];
    const shown = files.slice(0, 4);
    for (const file of shown) {
      const item = el("li", "file-name");
      item.appendChild(bidi(el("span", "file-title", file.name)));
      if (file.folder) {
        item.appendChild(el("span", "file-items", itemCount(file.items)));
      }
      item.title = file.path || file.name;
      list.appendChild(item);
    }
    if (files.length > shown.length) {
      list.appendChild(el("li", "file-more", Velto.t("and {count} more", { count: files.length - shown.length })));
    }
    if (files.length === 0 && message.progress && message.progress.filename) {
      list.appendChild(bidi(el("li", "file-name", message.progress.filename)));
    }
    return list;
  }

  // What a send left out, each with its reason.
  function skippedList(skipped) {
    const list = el("ul", "skipped");
    const shown = skipped.slice(0, 4);
    for (const left of shown) {
      const item = el("li", "skipped-path", Velto.t("Left out: {name} ({reason})", { name: baseName(left.path), reason: left.reason }));
      item.title = left.path;
      list.appendChild(item);
    }
    if (skipped.length > shown.length) {
      list.appendChild(el("li", "skipped-more", Velto.t("and {count} more left out", { count: skipped.length - shown.length })));
    }
    return list;
  }

  function actionButton(action, label, primary) {
    const button = el("button", primary ? "primary-button small" : "ghost-button small", label);
    button.type = "button";
    button.dataset.action = action;
    return button;
  }

  // The controls of a transfer: Accept and Decline while it asks, Cancel while it runs.
  function transferActions(message) {
    const row = el("div", "card-actions");
    if (message.state === "asking") {
      row.append(actionButton("accept", Velto.t("Accept"), true), actionButton("decline", Velto.t("Decline")));
    } else if (message.state === "active" || message.state === "waiting") {
      row.append(actionButton("cancel", Velto.t("Cancel")));
    } else {
      return null;
    }
    return row;
  }

  // live: {rate, remaining} for a transfer under way; peerName: the other side's name.
  // online: whether the other side is on the network now.
  function message(message, live, peerName, online) {
    const node = el("div", "message " + message.dir + " " + message.kind + " " + message.state);
    node.dataset.id = message.id;
    node.tabIndex = -1; // the conversation's keyboard model moves the one Tab stop
    if (opensFiles(message)) {
      node.classList.add("openable");
    }
    if (message.key) {
      node.dataset.transfer = message.key;
    }
    const status = transferStatus(message, live && live.rate, live && live.remaining, peerName);

    if (message.kind === "text") {
      const bubble = el("div", "bubble");
      bubble.appendChild(bidi(el("div", "bubble-text", message.text)));
      node.appendChild(bubble);
    } else {
      const card = el("div", "bubble card");
      const head = el("div", "card-head");
      const files = message.files || [];
      head.appendChild(icon(cardIcon(message), "card-icon"));
      head.appendChild(fileList(message));
      card.appendChild(head);

      if (message.state === "active" || message.state === "waiting") {
        const bar = el("div", "progress");
        const fill = el("div", "progress-fill");
        fill.style.width = (Velto.progress.fraction(message.progress) * 100).toFixed(1) + "%";
        bar.appendChild(fill);
        card.appendChild(bar);
      }
      const line = el("div", "card-status " + status.tone);
      if (message.state === "done") {
        line.appendChild(icon("check", "status-icon"));
      } else if (message.state === "failed" || message.state === "cancelled") {
        line.appendChild(icon("alert", "status-icon"));
      }
      line.appendChild(document.createTextNode(status.text));
      card.appendChild(line);
      if (message.skipped && message.skipped.length) {
        card.appendChild(skippedList(message.skipped));
      }
      const actions = transferActions(message);
      if (actions) {
        card.appendChild(actions);
      } else if (retryable(message)) {
        const retry = actionButton("retry", Velto.t("Retry"));
        retry.disabled = !online;
        card.appendChild(el("div", "card-actions")).appendChild(retry);
      }
      if (message.gone && message.gone.length) {
        const words = Velto.t("Cannot send again, no longer there: {names}", { names: message.gone.join(", ") });
        card.appendChild(bidi(el("div", "card-note bad", words)));
      }
      if (message.renamed && message.renamed.length) {
        const note = Velto.t("Names on disk not valid UTF-8, sent as: {names}", { names: message.renamed.join(", ") });
        card.appendChild(el("div", "card-note", note));
      }
      if (opensFiles(message)) {
        card.draggable = true;
        card.classList.add("draggable");
        card.title = Velto.t("Drag to another program");
      }
      node.appendChild(card);
    }

    const meta = el("div", "meta");
    meta.appendChild(document.createTextNode(clock(new Date(message.time))));
    if (message.kind === "text" && message.dir === "out") {
      const notes = { done: "Delivered", failed: "Not delivered", cancelled: "Cancelled" };
      const note = Velto.t(notes[message.state] || "Sending…");
      meta.appendChild(el("span", "meta-state " + status.tone, " · " + note));
      const action = message.state === "waiting" || message.state === "active" ? "cancel" : retryable(message) ? "retry" : null;
      if (action) {
        const button = el("button", "meta-action", Velto.t(action === "cancel" ? "Cancel" : "Retry"));
        button.type = "button";
        button.dataset.action = action;
        button.disabled = action === "retry" && !online;
        meta.appendChild(button);
      }
    }
    node.appendChild(meta);
    return node;
  }

  // A received file or folder that is there to open.
  function opensFiles(message) {
    return message.dir === "in" && message.state === "done" && (message.files || []).some((f) => f.path);
  }

  Velto.view = { el, icon, avatar, fillAvatar, detailLine, detailParts, peerRow, message, dayLabel, transferStatus, retryable, opensFiles };
})((window.Velto = window.Velto || {}));

// The conversation by keyboard: the messages are one stop in the Tab order (the newest, or the
// one the user moved to last), Up and Down (Home, End) move between them, and Enter or a
// double click opens a received file or folder. Buttons inside a message keep their own keys.
(function (Velto) {
  "use strict";

  // open(node): what Enter or a double click on a message does.
  function wire(container, open) {
    let current = null; // id of the message that holds the Tab stop

    const messages = () => [...container.querySelectorAll(".message")];

    // After the messages were drawn anew: one Tab stop, and the focus back where it was.
    function settle(focusedId) {
      const all = messages();
      const stop = all.find((node) => node.dataset.id === current) || all[all.length - 1];
      for (const node of all) {
        node.tabIndex = node === stop ? 0 : -1;
      }
      const focused = focusedId && all.find((node) => node.dataset.id === focusedId);
      if (focused) {
        focused.focus({ preventScroll: true });
      }
    }

    // The id of the message with the keyboard focus, if one has it.
    function focusedId() {
      const active = document.activeElement;
      return active && active.classList.contains("message") && container.contains(active) ? active.dataset.id : null;
    }

    function moveTo(node) {
      current = node.dataset.id;
      settle(current);
      node.scrollIntoView({ block: "nearest" });
    }

    container.addEventListener("focusin", (event) => {
      if (event.target.classList.contains("message")) {
        current = event.target.dataset.id;
        settle(null);
      }
    });
    container.addEventListener("keydown", (event) => {
      const node = event.target;
      if (!node.classList.contains("message")) {
        return;
      }
      const all = messages();
      const at = all.indexOf(node);
      const moves = { ArrowUp: at - 1, ArrowDown: at + 1, Home: 0, End: all.length - 1 };
      if (Object.prototype.hasOwnProperty.call(moves, event.key)) {
        event.preventDefault();
        moveTo(all[Math.max(0, Math.min(all.length - 1, moves[event.key]))]);
      } else if (event.key === "Enter") {
        event.preventDefault();
        open(node);
      }
    });
    container.addEventListener("dblclick", (event) => {
      const node = event.target.closest(".message.openable");
      if (node && !event.target.closest("button")) {
        open(node);
      }
    });
    return { settle, focusedId };
  }

  Velto.conversationKeys = { wire };
})((window.Velto = window.Velto || {}));

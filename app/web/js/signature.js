// Taking a peer's signature apart: "<user> at <computer> [Velto] (<platform>)". Other senders
// may announce anything; what does not fit is shown as it came.
(function (Velto) {
  "use strict";

  const full = /^(.+?) at (.+) \[([^\]]*)\] \(([^)]*)\)$/;

  function parse(signature, ip) {
    const text = String(signature == null ? "" : signature).trim();
    const match = full.exec(text);
    if (match) {
      return { user: match[1], computer: match[2], app: match[3], platform: match[4], known: true };
    }
    if (text === "" || text === ip) {
      // Only an address: a sender that never said hello.
      return { user: ip || "Unknown", computer: "", app: "", platform: "", known: false };
    }
    const at = text.indexOf(" at ");
    if (at > 0) {
      return { user: text.slice(0, at), computer: text.slice(at + 4), app: "", platform: "", known: true };
    }
    return { user: text, computer: "", app: "", platform: "", known: true };
  }

  Velto.signature = { parse };
})((window.Velto = window.Velto || {}));

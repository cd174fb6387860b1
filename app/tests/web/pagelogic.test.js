// Page logic checked inside the real page: signature parsing, avatars, progress maths, file
// kinds, the page's words in another language, the page's own storage and drop-region
// computation. Returns the list of failures (empty when all
// hold). The page's state and the stored conversations are checked in node (pagestate.test.js).
(function () {
  "use strict";
  const failures = [];
  function check(name, actual, expected) {
    const a = JSON.stringify(actual);
    const e = JSON.stringify(expected);
    if (a !== e) {
      failures.push(name + ": got " + a + ", expected " + e);
    }
  }

  // ---- signatures
  const parse = Velto.signature.parse;
  check("full signature", parse("Ann Lee at Office [Velto] (Linux)", "10.0.0.2"),
    { user: "Ann Lee", computer: "Office", app: "Velto", platform: "Linux", known: true });
  check("computer name with ' at ' and brackets", parse("Bo at Desk at Home (2) [Velto] (Macintosh)"),
    { user: "Bo", computer: "Desk at Home (2)", app: "Velto", platform: "Macintosh", known: true });
  check("other program's tag", parse("Cy at Lab [Other] (Windows)").app, "Other");
  check("no tags", parse("Dee at Attic"), { user: "Dee", computer: "Attic", app: "", platform: "", known: true });
  check("address only", parse("10.0.0.9", "10.0.0.9"), { user: "10.0.0.9", computer: "", app: "", platform: "", known: false });
  check("anything else", parse("weird-thing").user, "weird-thing");
  check("empty", parse("", "").user, "Unknown");

  // ---- avatars
  const A = Velto.avatar;
  check("two initials", A.initials("ann lee"), "AL");
  check("first and last of three", A.initials("Ann Marie Lee"), "AL");
  check("one word", A.initials("Émile"), "É");
  check("punctuation skipped", A.initials("(Bo) 'Cy'"), "BC");
  check("unknown peer", A.initials("10.0.0.9", false), "?");
  const colours = new Set(["a", "b", "c", "d", "e", "f", "g", "h", "i", "j"].map(A.colour));
  check("colours spread", colours.size >= 4, true);

  // ---- progress maths
  const P = Velto.progress;
  check("fraction by bytes", P.fraction({ byteCount: 200, byteFinished: 50, itemCount: 2, itemFinished: 0 }), 0.25);
  check("fraction by items when no bytes", P.fraction({ byteCount: 0, byteFinished: 0, itemCount: 4, itemFinished: 3 }), 0.75);
  check("fraction clamped", P.fraction({ byteCount: 10, byteFinished: 12 }), 1);
  check("fraction of nothing", P.fraction({ byteCount: 0, itemCount: 0 }), 0);
  check("bytes", [P.formatBytes(0), P.formatBytes(999), P.formatBytes(1000), P.formatBytes(1536000), P.formatBytes(25e9)],
    ["0 B", "999 B", "1.00 KB", "1.54 MB", "25.0 GB"]);
  check("rate text", [P.formatRate(0), P.formatRate(2.5e6)], ["", "2.50 MB/s"]);
  check("durations", [P.formatDuration(0.2), P.formatDuration(42), P.formatDuration(125), P.formatDuration(7260)],
    ["1 s", "42 s", "2 min 5 s", "2 h 1 min"]);
  const meter = new P.RateMeter(3000);
  check("no rate from one sample", (meter.add(0, 0), meter.rate()), 0);
  meter.add(1000, 1e6);
  meter.add(2000, 3e6);
  check("rate over window", meter.rate(), 1.5e6);
  meter.add(6000, 7e6); // the first samples fall out of the 3 s window
  check("rate follows recent samples", meter.rate(), 1e6);
  check("time left", meter.remaining(5e6), 5);

  // ---- file kinds by name, for the icons
  const kinds = ["Photo.JPG", "backup.tar.gz", "talk.opus", "report.pdf", "main.cpp", ".bashrc", "README", "x.unknown"];
  check("file kinds", kinds.map(Velto.fileKinds.kindOf), ["image", "archive", "audio", "document", "text", "other", "other", "other"]);

  // ---- the page's words in another language: the written page and the texts it makes
  const I = Velto.i18n;
  I.addCatalog("xx", { "No messages yet": "Noch nichts", "{count} items": "{count} Dinge", "Write a message": "Schreiben" });
  I.setLanguage("xx");
  const written = document.createElement("div");
  written.innerHTML = '<p>\n    No messages yet\n  </p><b>Not in the catalog</b><textarea placeholder="Write a message"></textarea>';
  I.translateDocument(written);
  check("written words translated, spacing kept", written.firstChild.textContent, "\n    Noch nichts\n  ");
  check("words outside the catalog stay", written.children[1].textContent, "Not in the catalog");
  check("attributes translated", written.lastChild.placeholder, "Schreiben");
  check("placeholders filled", Velto.t("{count} items", { count: 3 }), "3 Dinge");
  I.setLanguage("en");
  check("English is the page's own", Velto.t("{count} items", { count: 3 }), "3 items");
  document.documentElement.lang = "en";

  // ---- the page's own storage (the persistent profile) round-trips
  const real = new Velto.History(window.localStorage).load();
  real.add("10.9.9.9", { id: "r1", dir: "in", kind: "text", text: "kept", time: 1, state: "done" });
  real.save();
  check("local storage round trip", new Velto.History(window.localStorage).load().messages("10.9.9.9")[0].text, "kept");
  real.clear("10.9.9.9");
  real.save();

  // ---- drop regions
  const R = Velto.regions;
  const viewport = { width: 800, height: 600 };
  check("regions in order, whole pixels", R.compute([
    { rect: { x: 10.4, y: 20.6, width: 100.2, height: 30 }, type: "original", name: "input" },
    { rect: { x: 0, y: 0, width: 800, height: 600 }, type: "object", name: "p" },
  ], viewport), [
    { x: 10, y: 20, width: 101, height: 31, type: "original", name: "input" },
    { x: 0, y: 0, width: 800, height: 600, type: "object", name: "p" },
  ]);
  check("clipped to the list and the window", R.compute([
    { rect: { x: 0, y: 90, width: 280, height: 50 }, clip: { x: 0, y: 60, width: 280, height: 60 }, type: "object", name: "half" },
    { rect: { x: 0, y: 10, width: 280, height: 40 }, clip: { x: 0, y: 60, width: 280, height: 60 }, type: "object", name: "hidden" },
    { rect: { x: 700, y: 550, width: 300, height: 300 }, type: "object", name: "edge" },
  ], viewport), [
    { x: 0, y: 90, width: 280, height: 30, type: "object", name: "half" },
    { x: 700, y: 550, width: 100, height: 50, type: "object", name: "edge" },
  ]);
  const hits = [{ x: 10, y: 10, width: 10, height: 10, type: "original", name: "a" }, { x: 0, y: 0, width: 100, height: 100, type: "object", name: "b" }];
  check("first match wins", R.hitTest(hits, 15, 15).name, "a");
  check("right and bottom edges outside", [R.hitTest(hits, 20, 15).name, R.hitTest(hits, 15, 20).name], ["b", "b"]);
  check("left and top edges inside", R.hitTest(hits, 10, 10).name, "a");
  check("miss", R.hitTest(hits, 100, 5), null);

  return failures;
})();

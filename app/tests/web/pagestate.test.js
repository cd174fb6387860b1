// The page's state without a page: what each event of the program and each send does to the
// peers and the stored conversations. Run by node's own test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const { PageState, History } = require("../../web/js/state.js");

function memoryStorage() {
  const data = {};
  return { getItem: (k) => (k in data ? data[k] : null), setItem: (k, v) => (data[k] = String(v)), data };
}

// A state on its own storage and clock, recording what it posts and the changes it announces;
// the program answers a command that world.answers names.
function page(options = {}) {
  const world = { clock: 1000, posted: [], changes: [], answers: {}, storage: options.storage || memoryStorage() };
  let keys = 0;
  world.state = new PageState({
    storage: world.storage,
    post: (command, data, reply) => {
      world.posted.push({ command, data });
      if (world.answers[command]) {
        reply(world.answers[command](data));
      }
    },
    now: () => world.clock,
    monotonic: () => world.clock,
    newKey: () => "t" + ++keys,
    perPeerLimit: options.perPeerLimit,
  });
  world.state.subscribe((change) => world.changes.push(change.type));
  world.event = (name, data) => world.state.apply(name, data);
  world.stored = () => JSON.parse(world.storage.getItem(History.storageKey));
  return world;
}

const ann = { key: "10.0.0.2", ip: "10.0.0.2", port: 4644, systemSignature: "Ann at Office [Velto] (Linux)" };
const annOnline = (world) => world.event("peer-added", { key: ann.key, peer: ann });

test("peers appear, change and leave; the conversation stays", () => {
  const world = page();
  annOnline(world);
  world.event("peer-modified", { key: ann.key, peer: { ...ann, systemSignature: "Ann at Attic [Velto] (Linux)" } });
  assert.equal(world.state.peers.get(ann.key).systemSignature, "Ann at Attic [Velto] (Linux)");
  assert.equal(world.state.history.peer(ann.key).signature, "Ann at Attic [Velto] (Linux)");
  assert.equal(world.state.hasConversation(ann.key), true);
  world.event("peer-removed", { key: ann.key });
  assert.equal(world.state.peers.has(ann.key), false);
  assert.equal(world.state.hasConversation(ann.key), false); // nothing was said
  assert.deepEqual(world.changes, ["peer", "peer", "peer-removed"]);
  assert.equal(world.event("drag-update", { x: 1, y: 1 }), false); // the drawing's alone
});

test("an incoming transfer from an unknown sender adds the peer and runs to the end", () => {
  const world = page();
  world.event("transfer-incoming", { key: "in-1", peer: ann });
  assert.deepEqual(world.changes, ["peer", "message-added"]);
  const [message] = world.state.history.messages(ann.key);
  assert.deepEqual([message.kind, message.state, message.unread], ["pending", "active", true]);

  const progress = { key: "in-1", itemCount: 2, itemFinished: 0, byteCount: 4e6, byteFinished: 1e6 };
  world.event("transfer-progress", { ...progress, filename: "a.txt" });
  world.clock += 1000;
  world.event("transfer-progress", { ...progress, itemFinished: 1, byteFinished: 2e6 });
  assert.equal(message.progress.filename, "a.txt"); // kept until the next file names itself
  assert.deepEqual(world.state.live(message), { rate: 1e6, remaining: 2 });
  world.event("transfer-incoming-file", { key: "in-1", path: "/home/u/Downloads/a.txt" });
  world.event("transfer-incoming-file", { key: "in-1", path: "/home/u/Downloads/pics/" });
  assert.deepEqual(message.files.map((file) => file.name), ["a.txt", "pics"]);

  world.clock += 1000;
  world.answers.describeFiles = ({ paths }) => paths.map((path) => ({ path, exists: true, folder: path.endsWith("/"), items: 7 }));
  world.event("transfer-finished", { key: "in-1" });
  world.event("transfer-failed", { key: "in-1" }); // too late: it is done
  assert.deepEqual([message.state, message.averageRate, world.state.meters.has("in-1")], ["done", 1e6, false]);
  assert.deepEqual(message.files.map((file) => [file.folder, file.items]), [[undefined, undefined], [true, 7]]);
  assert.equal(world.stored().conversations[ann.key][0].state, "done"); // saved at once

  world.state.select(ann.key);
  assert.equal(world.state.history.unreadCount(ann.key), 0);
  world.event("transfer-incoming", { key: "in-2", peer: ann });
  world.event("transfer-progress", { key: "in-2", itemCount: 1, itemFinished: 1, byteCount: 9e6, byteFinished: 9e6 });
  world.clock += 900;
  world.event("transfer-finished", { key: "in-2" });
  const quick = world.state.history.findTransfer("in-2").message;
  assert.deepEqual([quick.unread, quick.averageRate], [undefined, undefined]); // seen at once; too quick for a rate
  world.event("transfer-incoming", { key: "in-3", peer: ann });
  world.event("transfer-finished", { key: "in-3" });
  assert.equal(world.state.history.findTransfer("in-3").message.kind, "files"); // carried nothing
});

test("sends go out only to peers on the network, and follow their transfer", () => {
  const world = page();
  assert.equal(world.state.sendText(ann.key, "hi"), false);
  annOnline(world);
  assert.equal(world.state.sendText(ann.key, "  "), false);
  assert.equal(world.state.sendText(ann.key, "hi"), true);
  world.state.sendFiles(ann.key, ["/home/u/a.txt", "/home/u/gone.txt"]);
  const [text, files] = world.state.history.messages(ann.key);
  assert.deepEqual(world.posted, [
    { command: "sendText", data: { key: ann.key, text: "hi", transferKey: text.key } },
    { command: "sendFiles", data: { key: ann.key, files: ["/home/u/a.txt", "/home/u/gone.txt"], transferKey: files.key } },
    { command: "describeFiles", data: { paths: ["/home/u/a.txt", "/home/u/gone.txt"] } },
  ]);
  assert.deepEqual([text.state, text.unread, files.files[0].name], ["waiting", undefined, "a.txt"]);

  world.event("transfer-connected", { key: text.key });
  assert.deepEqual([text.state, text.startedAt], ["active", world.clock]);
  world.event("transfer-failed", { key: text.key });
  assert.equal(text.state, "failed");

  world.event("transfer-skipped", {
    key: files.key,
    skipped: [{ path: "/home/u/gone.txt", reason: "it is gone", extra: 1 }],
    nothingLeft: false,
  });
  world.event("transfer-renamed", { key: files.key, names: [{ from: "a:b", to: "a_b" }] });
  assert.deepEqual(files.skipped, [{ path: "/home/u/gone.txt", reason: "it is gone" }]);
  assert.deepEqual([files.nothingSent, files.renamed], [false, [{ from: "a:b", to: "a_b" }]]);
});

test("Retry sends a failed message again in its place, files only while they are all there", () => {
  const world = page();
  annOnline(world);
  world.state.sendText(ann.key, "hi");
  world.state.sendFiles(ann.key, ["/home/u/a.txt", "/home/u/b.txt"]);
  const [text, files] = world.state.history.messages(ann.key);
  const firstKey = text.key;
  world.state.retry(ann.key, text.id); // still under way: nothing to retry
  world.event("transfer-failed", { key: text.key, outcome: "failed", reason: "reset" });
  world.event("transfer-failed", { key: files.key, outcome: "failed", reason: "reset" });
  world.event("peer-removed", { key: ann.key });
  world.state.retry(ann.key, text.id); // not on the network
  annOnline(world);
  world.posted = [];
  world.state.select(ann.key);
  world.event("retry-message", { id: text.id }); // from the message's menu
  assert.deepEqual(world.posted, [{ command: "sendText", data: { key: ann.key, text: "hi", transferKey: text.key } }]);
  assert.notEqual(text.key, firstKey);
  assert.deepEqual([text.state, text.failOutcome, world.state.history.findTransfer(text.key).message], ["waiting", undefined, text]);
  world.event("transfer-finished", { key: text.key });
  assert.equal(text.state, "done");

  let present = ["/home/u/a.txt"];
  world.answers.describeFiles = ({ paths }) => paths.map((path) => ({ path, exists: present.includes(path), folder: false }));
  world.state.retry(ann.key, files.id);
  assert.deepEqual([files.state, files.gone], ["failed", ["b.txt"]]);
  present = ["/home/u/a.txt", "/home/u/b.txt"];
  world.state.retry(ann.key, files.id);
  assert.deepEqual([files.state, files.gone, world.posted.at(-1).command], ["waiting", undefined, "sendFiles"]);
  assert.deepEqual(world.posted.at(-1).data, { key: ann.key, files: present, transferKey: files.key });
});

test("a drop on a peer opens its conversation and sends files, else the text", () => {
  const world = page();
  annOnline(world);
  world.event("drag-on", { type: "object", name: "10.0.0.9", files: ["/a"] }); // not on the network
  world.event("drag-on", { type: "original", name: ann.key, plainText: "hi" }); // the text box's
  assert.deepEqual(world.posted, []);
  world.event("drag-on", { type: "object", name: ann.key, files: ["/home/u/a.txt"], plainText: "x" });
  world.event("drag-on", { type: "object", name: ann.key, files: [], plainText: "hello" });
  assert.equal(world.state.selected, ann.key);
  assert.deepEqual(world.posted.map((post) => post.command), ["sendFiles", "describeFiles", "sendText"]);
  assert.deepEqual(world.changes.slice(1, 3), ["selected", "message-added"]);
});

test("each conversation keeps its newest messages, and survives a restart", () => {
  const world = page({ perPeerLimit: 3 });
  annOnline(world);
  for (const key of ["q0", "q1", "q2", "q3"]) {
    world.clock += 1;
    world.event("transfer-incoming", { key, peer: ann });
  }
  assert.deepEqual(world.state.history.messages(ann.key).map((message) => message.key), ["q1", "q2", "q3"]);
  world.changes.length = 0;
  world.event("transfer-finished", { key: "q0" }); // dropped: no longer followed
  world.event("transfer-finished", { key: "q1" });
  world.clock += 1;
  world.event("transfer-incoming", { key: "b1", peer: { ...ann, key: "10.0.0.3", ip: "10.0.0.3" } });
  assert.deepEqual(world.changes, ["message-changed", "peer", "message-added"]);
  world.state.saveNow();

  const again = page({ storage: world.storage }).state;
  assert.deepEqual(again.history.conversationKeys(), ["10.0.0.3", ann.key]);
  const messages = again.history.messages(ann.key);
  assert.deepEqual(messages.map((message) => [message.state, message.interrupted]), [
    ["done", undefined],
    ["failed", true], // under way when the page ended
    ["failed", true],
  ]);
  assert.equal(again.history.findTransfer("q3").message, messages[2]);
  assert.equal(again.history.peer(ann.key).signature, ann.systemSignature);
});

test("stored conversations: unreadable ones start afresh, a full storage drops the older half", () => {
  const broken = memoryStorage();
  broken.setItem(History.storageKey, "{not json");
  const quiet = console.error;
  console.error = () => {};
  assert.deepEqual(new History(broken).load().conversationKeys(), []);
  console.error = quiet;

  let writes = 0;
  const full = { getItem: () => null, setItem: () => { if (++writes === 1) throw new Error("QuotaExceededError"); } };
  const big = new History(full).load();
  for (let i = 0; i < 4; i++) big.add("p", { id: "b" + i, dir: "in", kind: "text", text: "t", time: i, state: "done" });
  assert.deepEqual([big.save(), big.messages("p").map((m) => m.id)], [true, ["b2", "b3"]]);
});

test("a question is answered once; cancelled, declined and refused transfers stay as they ended", () => {
  const world = page();
  annOnline(world);
  world.event("transfer-incoming", { key: "in-1", peer: ann });
  world.event("transfer-asking", { key: "in-1", peer: ann, itemCount: 3, totalSize: 9000, firstName: "photos" });
  world.event("transfer-asking", { key: "in-2", peer: ann, itemCount: 1, totalSize: 10, firstName: "a.txt" });
  const [first, second] = world.state.history.messages(ann.key);
  assert.deepEqual([first.state, first.progress.filename, second.state, second.dir], ["asking", "photos", "asking", "in"]);

  world.state.answer("in-1", true);
  world.state.answer("in-1", false); // answered already
  world.state.answer("in-2", false);
  assert.deepEqual([first.state, second.state], ["active", "declined"]);
  assert.deepEqual(world.posted.map((p) => p.command + " " + p.data.key), [
    "acceptTransfer in-1",
    "declineTransfer in-2",
  ]);
  world.event("transfer-failed", { key: "in-2", outcome: "declined", reason: "declined" });
  assert.equal(second.state, "declined"); // the library's failure report does not overwrite it

  world.state.cancel("in-1");
  world.event("transfer-failed", { key: "in-1", outcome: "cancelled", reason: "cancelled" });
  world.event("transfer-finished", { key: "in-1" });
  world.state.cancel("in-1"); // over: nothing to post
  assert.equal(first.state, "cancelled");
  assert.deepEqual(world.posted.slice(2), [{ command: "cancelTransfer", data: { key: "in-1" } }]);

  world.state.sendFiles(ann.key, ["/home/ann/big.iso"]);
  const sent = world.state.history.messages(ann.key)[2];
  world.event("transfer-waiting", { key: sent.key, waiting: true });
  assert.equal(sent.waitingForAnswer, true);
  world.event("transfer-failed", { key: sent.key, outcome: "declined", reason: "connection reset" });
  assert.deepEqual([sent.state, sent.failOutcome], ["failed", "declined"]);

  world.state.saveNow();
  world.event("transfer-asking", { key: "in-3", peer: ann, itemCount: 1, totalSize: 1, firstName: "x" });
  world.state.saveNow();
  const again = page({ storage: world.storage }).state;
  const asked = again.history.findTransfer("in-3").message;
  assert.deepEqual([asked.state, asked.interrupted], ["failed", true]); // a question does not outlive the page
});

test("the peer list: conversations first, the latest on top, then by name; search and type-ahead", () => {
  const { PeerOrder } = require("../../web/js/peerorder.js");
  const order = new PeerOrder();
  const place = (ip, name, recent = 0) => order.place(ip, { name, ip, recent });
  place("10.0.0.5", "zoe");
  place("10.0.0.3", "Ann");
  place("10.0.0.7", "pc 10");
  place("10.0.0.6", "PC 2");
  place("10.0.0.9", "Bob", 200);
  place("10.0.0.4", "Cy", 100);
  assert.deepEqual(order.keys, ["10.0.0.9", "10.0.0.4", "10.0.0.3", "10.0.0.6", "10.0.0.7", "10.0.0.5"]);
  assert.equal(place("10.0.0.4", "Cy", 300), 0); // a new message lifts its computer to the top
  assert.equal(place("10.0.0.5", "Aaron"), 2); // a new name moves it among the others
  assert.deepEqual([order.remove("10.0.0.9"), order.remove("10.0.0.9")], [true, false]);
  assert.deepEqual([order.size, order.has("10.0.0.9")], [5, false]);

  const found = (query) => order.keys.filter((key) => order.matches(key, query));
  assert.deepEqual(found(" pC "), ["10.0.0.6", "10.0.0.7"]);
  assert.deepEqual(found("0.0.3"), ["10.0.0.3"]);
  assert.deepEqual([found("").length, found("nobody")], [5, []]);

  const all = () => true;
  assert.equal(order.findByPrefix("p", null, all), "10.0.0.6");
  assert.equal(order.findByPrefix("p", "10.0.0.6", all), "10.0.0.7");
  assert.equal(order.findByPrefix("p", "10.0.0.7", all), "10.0.0.6"); // round again
  assert.equal(order.findByPrefix("p", null, (key) => key !== "10.0.0.6"), "10.0.0.7");
  assert.equal(order.findByPrefix("x", null, all), null);
});

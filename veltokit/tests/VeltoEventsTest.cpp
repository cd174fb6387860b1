#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/MemoryConnection.h"
#include "support/TempDir.h"
#include "velto/TransferConnections.h"
#include "velto/VeltoEvents.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"

namespace velto {
namespace {

// Records what reaches the sink, without a lock of its own: the events must never enter it twice
// at once (ThreadSanitizer would see the vector written from two threads), and it notes if they
// did.
struct EventsRig {
    std::vector<VeltoEvent> seen;
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::shared_ptr<VeltoServer> server = VeltoServer::create();
    std::shared_ptr<VeltoEvents> events =
        std::make_shared<VeltoEvents>([this] { return server; },
                                      [this](const VeltoEvent& event) {
                                          overlapped = overlapped || inside.exchange(true);
                                          std::this_thread::yield();
                                          seen.push_back(event);
                                          inside = false;
                                      });
    test::TempDir downloads;

    // Reports created, as the server does when it accepts a connection.
    std::shared_ptr<VeltoIncomingTransfer> receive(const std::string& key,
                                                   std::optional<std::string> host) {
        return TransferConnections::receive(test::MemoryConnection::idle(host.value_or("")), key,
                                            events, downloads.str());
    }
    std::shared_ptr<VeltoTransfer> send(const std::string& key) {
        auto transfer = VeltoTransfer::create(VeltoTransfer::itemsForText("hi"), VeltoPeer(),
                                              DispatchQueue::create("outgoing"));
        transfer->setKey(key);
        return transfer;
    }
    nlohmann::json envelopes() const {
        nlohmann::json all = nlohmann::json::array();
        for (const auto& event : seen) {
            all.push_back(event.envelope());
        }
        return all;
    }
};

TEST(VeltoEvents, EveryReportBecomesItsEventWithTheFieldsFrontEndsRelyOn) {
    EventsRig rig;
    VeltoPeer ann("10.77.0.12", "10.77.0.12", 4644, "Ann at Office [Velto]", {});
    ann.avatar = "loading";  // not a picture yet: no "avatar"
    rig.server->peers().addIfAbsent(ann);
    rig.events->peerDiscoveryWithAdded(ann.key, ann);
    ann.avatar = "data:image/png;base64,UE5H";
    rig.events->peerDiscoveryWithModified(ann.key, ann);

    const auto out = rig.send("S");
    rig.events->transferWithRenamedItems(*out, {"caf%E9"});
    rig.events->transferWithConnected(*out);
    rig.events->transferWithProgress(*out, 3, 1, 5'000'000'000, 100);
    rig.events->transferWithWaiting(*out, true);
    rig.events->transferWithSkippedPaths("S", {}, false);  // nothing left out: no event
    rig.events->transferWithSkippedPaths("P", {{"/gone", "it is gone"}}, true);
    rig.events->transferWithNothingToSend("P");

    // A known sender: no peer-added, and the peer as the table holds it.
    const auto in = rig.receive("I", "10.77.0.12");
    rig.events->incomingTransferWithQuestion(*in, 2, 9, "Album");
    rig.events->incomingTransferWithProgress(*in, 2, 0, 9, 0, std::nullopt, std::nullopt);
    rig.events->incomingTransferWithProgress(*in, 2, 2, 9, 9, "a", "/d/a");
    rig.events->incomingTransferWithReceivedText(*in, "hello");
    rig.events->incomingTransferWithReceivedFile(*in, "/d/a");
    rig.events->incomingTransferWithFinished(*in);
    rig.events->incomingTransferWithFailed(*in);
    rig.events->peerDiscoveryWithRemoved(ann.key);

    // The peers, null below, are filled in after.
    auto expected = nlohmann::json::parse(R"([
      {"event": "peer-added", "data": {"key": "10.77.0.12", "peer": null}},
      {"event": "peer-modified", "data": {"key": "10.77.0.12", "peer": null}},
      {"event": "transfer-renamed", "data": {"key": "S", "names": ["caf%E9"]}},
      {"event": "transfer-connected", "data": {"key": "S"}},
      {"event": "transfer-progress", "data": {"key": "S", "itemCount": 3, "itemFinished": 1,
                                              "byteCount": 5000000000, "byteFinished": 100}},
      {"event": "transfer-waiting", "data": {"key": "S", "waiting": true}},
      {"event": "transfer-skipped", "data": {"key": "P", "nothingLeft": true,
                                             "skipped": [{"path": "/gone", "reason": "it is gone"}]}},
      {"event": "transfer-failed", "data": {"key": "P", "outcome": "failed",
                                            "reason": "nothing left to send"}},
      {"event": "transfer-incoming", "data": {"key": "I", "peer": null}},
      {"event": "transfer-asking", "data": {"key": "I", "peer": null, "itemCount": 2,
          "totalSize": 9, "firstName": "Album", "secondsLeft": 60.0}},
      {"event": "transfer-progress", "data": {"key": "I", "itemCount": 2, "itemFinished": 0,
          "byteCount": 9, "byteFinished": 0, "filename": null, "filepath": null, "isIncoming": true}},
      {"event": "transfer-progress", "data": {"key": "I", "itemCount": 2, "itemFinished": 2,
          "byteCount": 9, "byteFinished": 9, "filename": "a", "filepath": "/d/a", "isIncoming": true}},
      {"event": "transfer-incoming-text", "data": {"key": "I", "text": "hello"}},
      {"event": "transfer-incoming-file", "data": {"key": "I", "path": "/d/a"}},
      {"event": "transfer-finished", "data": {"key": "I"}},
      {"event": "transfer-failed", "data": {"key": "I", "outcome": "failed", "reason": ""}},
      {"event": "peer-removed", "data": {"key": "10.77.0.12"}}])");
    const nlohmann::json plain = {{"key", "10.77.0.12"},
                                  {"ip", "10.77.0.12"},
                                  {"port", 4644},
                                  {"systemSignature", "Ann at Office [Velto]"}};
    expected[0]["data"]["peer"] = expected[8]["data"]["peer"] = expected[9]["data"]["peer"] = plain;
    expected[1]["data"]["peer"] = plain;
    expected[1]["data"]["peer"]["avatar"] = "data:image/png;base64,UE5H";
    EXPECT_EQ(rig.envelopes(), expected);

    // The events of an incoming transfer name its sender, for front ends that say who sent.
    EXPECT_EQ(rig.seen[8].sender.value_or(VeltoPeer()).key, ann.key);
    EXPECT_FALSE(rig.seen[3].sender);
}

TEST(VeltoEvents, AnUnknownSenderBecomesAPeerOnceOnTheStandardPortOrTheTransferIsNotShown) {
    EventsRig rig;
    rig.server->defaultTcpPort = 5000;
    const auto first = rig.receive("A", "10.77.0.13");
    const auto second = rig.receive("B", "10.77.0.13");
    const nlohmann::json peer = {{"key", "10.77.0.13"},
                                 {"ip", "10.77.0.13"},
                                 {"port", 5000},
                                 {"systemSignature", "10.77.0.13"}};
    EXPECT_EQ(rig.envelopes(),
              nlohmann::json(
                  {{{"event", "peer-added"}, {"data", {{"key", "10.77.0.13"}, {"peer", peer}}}},
                   {{"event", "transfer-incoming"}, {"data", {{"key", "A"}, {"peer", peer}}}},
                   {{"event", "transfer-incoming"}, {"data", {{"key", "B"}, {"peer", peer}}}}}));
    EXPECT_EQ(rig.server->peers().find("10.77.0.13").value_or(VeltoPeer()).port, 5000);
    EXPECT_EQ(second->peer()->key, "10.77.0.13");

    // No address to know it by, or no server to record it in: the sender is not made up.
    const auto noAddress = rig.receive("C", std::nullopt);
    rig.server.reset();
    const auto noServer = rig.receive("D", "10.77.0.14");
    EXPECT_EQ(rig.seen.size(), 3u);
    EXPECT_FALSE(noAddress->peer());
    EXPECT_FALSE(noServer->peer());
}

TEST(VeltoEvents, ReportsFromManyThreadsReachTheSinkOneAtATimeInTheOrderReported) {
    EventsRig rig;
    constexpr int threads = 4;
    constexpr std::uint64_t reportsEach = 300;
    std::vector<std::thread> reporters;
    for (int index = 0; index < threads; ++index) {
        reporters.emplace_back([&rig, index] {
            const auto transfer = rig.send(std::to_string(index));
            for (std::uint64_t step = 0; step < reportsEach; ++step) {
                rig.events->transferWithRenamedItems(*transfer, {std::to_string(step)});
            }
        });
    }
    for (auto& reporter : reporters) {
        reporter.join();
    }
    EXPECT_FALSE(rig.overlapped);
    ASSERT_EQ(rig.seen.size(), threads * reportsEach);
    std::map<std::string, std::uint64_t> nextStep;
    for (std::size_t index = 0; index < rig.seen.size(); ++index) {
        const auto& event = rig.seen[index];
        EXPECT_EQ(event.sequence, index + 1);
        EXPECT_EQ(event.data["names"][0], std::to_string(nextStep[event.data["key"]]++));
    }
}

// A transfer of many small elements reports several times per element: its progress reaches the
// front end paced, each transfer's on its own, the first and the completing report always.
TEST(VeltoEvents, ProgressIsPacedPerTransferButItsFirstAndLastReportsShow) {
    EventsRig rig;
    const auto many = rig.send("M");
    const auto other = rig.send("O");
    constexpr std::uint64_t items = 10'000;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t done = 0; done < items; ++done) {
        rig.events->transferWithProgress(*many, items, done, items, done);
    }
    rig.events->transferWithProgress(*other, 1, 0, 1, 0);
    const auto allowed = (std::chrono::steady_clock::now() - start) / VeltoEvents::progressInterval;
    std::this_thread::sleep_for(VeltoEvents::progressInterval);
    rig.events->transferWithProgress(*many, items, items - 1, items, items - 1);
    rig.events->transferWithProgress(*many, items, items, items, items);

    ASSERT_GE(rig.seen.size(), 4u);
    EXPECT_LE(rig.seen.size(), static_cast<std::size_t>(allowed) + 5);
    EXPECT_EQ(rig.seen.front().data["itemFinished"], 0);
    const auto last = rig.seen.end() - 3;
    EXPECT_EQ(last[0].data["key"], "O");
    EXPECT_EQ(last[1].data["itemFinished"], items - 1);  // the interval had passed
    EXPECT_EQ(last[2].data["itemFinished"], items);
}

}  // namespace
}  // namespace velto

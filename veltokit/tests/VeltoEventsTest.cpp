#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/TempDir.h"
#include "velto/VeltoEvents.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"

namespace velto {
namespace {

// A connection that is never used: an incoming transfer only asks it for the sender's address.
class IdleConnection : public TcpConnection {
  public:
    explicit IdleConnection(std::optional<std::string> host) : host_(std::move(host)) {}
    void setDelegate(std::weak_ptr<TcpConnectionDelegate>) override {}
    void connectToHost(const std::string&, std::uint16_t) override {}
    void readDataToLength(std::size_t, double, long) override {}
    void writeData(Bytes, double, long) override {}
    void disconnect() override {}
    void disconnectAfterWriting() override {}
    std::optional<std::string> connectedHost() const override { return host_; }
    std::uint16_t connectedPort() const override { return 50000; }

  private:
    std::optional<std::string> host_;
};

// The sink of the events under test. It takes no lock of its own: the events must never enter
// it twice at once (ThreadSanitizer would see the vector written from two threads), and it
// notes if they did.
struct EventLog {
    std::vector<VeltoEvent> events;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};

    VeltoEvents::Sink sink() {
        return [this](const VeltoEvent& event) {
            if (inside.fetch_add(1) != 0) {
                overlapped = true;
            }
            std::this_thread::yield();
            events.push_back(event);
            inside.fetch_sub(1);
        };
    }
    nlohmann::json envelopes() const {
        nlohmann::json all = nlohmann::json::array();
        for (const auto& event : events) {
            all.push_back(event.envelope());
        }
        return all;
    }
};

struct EventsRig {
    EventLog log;
    std::shared_ptr<VeltoServer> server = VeltoServer::create();
    std::shared_ptr<VeltoEvents> events =
        std::make_shared<VeltoEvents>([this] { return server; }, log.sink());
    test::TempDir downloads;

    // Reports created, as the server does when it accepts a connection.
    std::shared_ptr<VeltoIncomingTransfer> receive(const std::string& key,
                                                   std::optional<std::string> host) {
        return VeltoIncomingTransfer::create(std::make_shared<IdleConnection>(std::move(host)),
                                             key, events, downloads.str());
    }
    std::shared_ptr<VeltoTransfer> send(const std::string& key, const VeltoPeer& peer) {
        auto transfer = VeltoTransfer::create(VeltoTransfer::itemsForText("hi"), peer,
                                              DispatchQueue::create("outgoing"));
        transfer->setKey(key);
        return transfer;
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

    const auto out = rig.send("S", ann);
    rig.events->transferWithRenamedItems(*out, {"caf%E9"});
    rig.events->transferWithConnected(*out);
    rig.events->transferWithProgress(*out, 3, 1, 5'000'000'000, 100);
    rig.events->transferWithFinished(*out);
    rig.events->transferWithFailed(*out);
    rig.events->transferWithSkippedPaths("P", {{"/gone", "it is gone"}}, true);
    rig.events->transferWithNothingToSend("P");

    // A known sender: no peer-added, and the peer as the table holds it.
    const auto in = rig.receive("I", "10.77.0.12");
    rig.events->incomingTransferWithProgress(*in, 2, 0, 9, 0, std::nullopt, std::nullopt);
    rig.events->incomingTransferWithProgress(*in, 2, 1, 9, 4, "a", "/d/a");
    rig.events->incomingTransferWithReceivedText(*in, "hello");
    rig.events->incomingTransferWithReceivedFile(*in, "/d/a");
    rig.events->incomingTransferWithFinished(*in);
    rig.events->incomingTransferWithFailed(*in);
    rig.events->peerDiscoveryWithRemoved(ann.key);

    const auto withoutAvatar = R"({"key": "10.77.0.12", "ip": "10.77.0.12", "port": 4644,
                                   "systemSignature": "Ann at Office [Velto]"})";
    const auto withAvatar = R"({"key": "10.77.0.12", "ip": "10.77.0.12", "port": 4644,
                                "systemSignature": "Ann at Office [Velto]",
                                "avatar": "data:image/png;base64,UE5H"})";
    const auto expected = nlohmann::json::parse(std::string(R"([
      {"event": "peer-added", "data": {"key": "10.77.0.12", "peer": )") + withoutAvatar + R"(}},
      {"event": "peer-modified", "data": {"key": "10.77.0.12", "peer": )" + withAvatar + R"(}},
      {"event": "transfer-renamed", "data": {"key": "S", "names": ["caf%E9"]}},
      {"event": "transfer-connected", "data": {"key": "S"}},
      {"event": "transfer-progress", "data": {"key": "S", "itemCount": 3, "itemFinished": 1,
                                              "byteCount": 5000000000, "byteFinished": 100}},
      {"event": "transfer-finished", "data": {"key": "S"}},
      {"event": "transfer-failed", "data": {"key": "S"}},
      {"event": "transfer-skipped", "data": {"key": "P", "nothingLeft": true,
                                             "skipped": [{"path": "/gone", "reason": "it is gone"}]}},
      {"event": "transfer-failed", "data": {"key": "P"}},
      {"event": "transfer-incoming", "data": {"key": "I", "peer": )" + withoutAvatar + R"(}},
      {"event": "transfer-progress", "data": {"key": "I", "itemCount": 2, "itemFinished": 0,
          "byteCount": 9, "byteFinished": 0, "filename": null, "filepath": null,
          "isIncoming": true}},
      {"event": "transfer-progress", "data": {"key": "I", "itemCount": 2, "itemFinished": 1,
          "byteCount": 9, "byteFinished": 4, "filename": "a", "filepath": "/d/a",
          "isIncoming": true}},
      {"event": "transfer-incoming-text", "data": {"key": "I", "text": "hello"}},
      {"event": "transfer-incoming-file", "data": {"key": "I", "path": "/d/a"}},
      {"event": "transfer-finished", "data": {"key": "I"}},
      {"event": "transfer-failed", "data": {"key": "I"}},
      {"event": "peer-removed", "data": {"key": "10.77.0.12"}}])");
    EXPECT_EQ(rig.log.envelopes(), expected);
    EXPECT_TRUE(expected[1]["data"]["peer"]["port"].is_number_unsigned());

    // The events of an incoming transfer name its sender, so that a front end can say who sent.
    for (std::size_t index = 0; index < rig.log.events.size(); ++index) {
        const auto& event = rig.log.events[index];
        EXPECT_EQ(event.sequence, index + 1);
        const bool incoming = event.data["key"] == "I";
        EXPECT_EQ(event.sender.has_value(), incoming) << index;
        if (incoming) {
            EXPECT_EQ(event.sender->systemSignature, ann.systemSignature);
        }
    }
    EXPECT_EQ(VeltoEvents::peerDictionaries({{ann.key, ann}}),
              nlohmann::json({{ann.key, nlohmann::json::parse(withAvatar)}}));
}

TEST(VeltoEvents, AnUnknownSenderBecomesAPeerOnceOnTheStandardPortOrTheTransferIsNotShown) {
    EventsRig rig;
    rig.server->defaultTcpPort = 5000;
    const auto first = rig.receive("A", "10.77.0.13");
    const auto second = rig.receive("B", "10.77.0.13");
    const auto peer = R"({"key": "10.77.0.13", "ip": "10.77.0.13", "port": 5000,
                          "systemSignature": "10.77.0.13"})";
    EXPECT_EQ(rig.log.envelopes(), nlohmann::json::parse(std::string(R"([
      {"event": "peer-added", "data": {"key": "10.77.0.13", "peer": )") + peer + R"(}},
      {"event": "transfer-incoming", "data": {"key": "A", "peer": )" + peer + R"(}},
      {"event": "transfer-incoming", "data": {"key": "B", "peer": )" + peer + R"(}}])"));
    ASSERT_TRUE(rig.server->peers().find("10.77.0.13"));
    EXPECT_EQ(rig.server->peers().find("10.77.0.13")->port, 5000);
    EXPECT_EQ(second->peer()->key, "10.77.0.13");

    // No address to know it by, or no server to record it in: the sender is not made up.
    const auto noAddress = rig.receive("C", std::nullopt);
    rig.server.reset();
    const auto noServer = rig.receive("D", "10.77.0.14");
    EXPECT_EQ(rig.log.events.size(), 3u);
    EXPECT_FALSE(noAddress->peer());
    EXPECT_FALSE(noServer->peer());
}

TEST(VeltoEvents, ReportsFromManyThreadsReachTheSinkOneAtATimeInTheOrderReported) {
    EventsRig rig;
    constexpr int threads = 4;
    constexpr std::uint64_t reportsEach = 300;
    const VeltoPeer peer("10.77.0.12", "10.77.0.12", 4644, "Ann", {});
    std::vector<std::thread> reporters;
    for (int index = 0; index < threads; ++index) {
        reporters.emplace_back([&rig, &peer, index] {
            const auto transfer = rig.send(std::to_string(index), peer);
            for (std::uint64_t step = 0; step < reportsEach; ++step) {
                rig.events->transferWithProgress(*transfer, reportsEach, step, 0, 0);
            }
        });
    }
    for (auto& reporter : reporters) {
        reporter.join();
    }
    EXPECT_FALSE(rig.log.overlapped);
    ASSERT_EQ(rig.log.events.size(), threads * reportsEach);
    std::map<std::string, std::uint64_t> nextStep;
    for (std::size_t index = 0; index < rig.log.events.size(); ++index) {
        const auto& event = rig.log.events[index];
        EXPECT_EQ(event.sequence, index + 1);
        EXPECT_EQ(event.data["itemFinished"], nextStep[event.data["key"]]++);
    }
}

}  // namespace
}  // namespace velto

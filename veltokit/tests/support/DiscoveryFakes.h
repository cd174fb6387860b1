#pragma once

// Stand-ins for what discovery talks to: this machine, the UDP socket, the picture fetcher and
// the host's delegate. Each records what it was asked and is safe to use from any thread.

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/AvatarFetcher.h"
#include "discovery/DatagramSender.h"
#include "discovery/LocalMachine.h"
#include "velto/VeltoPeerDiscoveryDelegate.h"
#include "velto/VeltoServer.h"

namespace velto::test {

class FakeLocalMachine : public LocalMachine {
  public:
    std::vector<InterfaceAddress> interfaces{{"eth0", "10.77.0.1", "255.255.255.0"}};
    std::optional<std::string> computer = std::string("Office");
    std::string fullName = "Ann Lee";
    std::optional<Bytes> picture;

    std::vector<InterfaceAddress> interfaceAddresses() const override { return interfaces; }
    std::optional<std::string> computerName() const override { return computer; }
    std::string userFullName() const override { return fullName; }
    std::optional<Bytes> userPicturePng() const override { return picture; }
    std::string platformWord() const override { return "(Linux)"; }
};

struct SentDatagram {
    Bytes data;
    std::string host;
    std::uint16_t port;
};

class RecordingSender : public DatagramSender {
  public:
    void sendDatagram(const Bytes& data, const std::string& host, std::uint16_t port) override {
        std::lock_guard lock(mutex_);
        sent_.push_back({data, host, port});
    }
    std::vector<SentDatagram> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(sent_, {});
    }

  private:
    std::mutex mutex_;
    std::vector<SentDatagram> sent_;
};

// Holds every fetch until the test answers it.
class ManualFetcher : public AvatarFetcher {
  public:
    struct Request {
        std::string ip;
        std::uint16_t port;
        Completion completion;
    };
    void fetch(const std::string& ip, std::uint16_t port, Completion completion) override {
        std::lock_guard lock(mutex_);
        requests_.push_back({ip, port, std::move(completion)});
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return requests_.size();
    }
    Request next() {
        std::lock_guard lock(mutex_);
        Request request = std::move(requests_.front());
        requests_.pop_front();
        return request;
    }

  private:
    std::mutex mutex_;
    std::deque<Request> requests_;
};

struct PeerReport {
    enum Kind { added, modified, removed } kind;
    std::string key;
    VeltoPeer peer;  // empty for removed
};

class RecordingDelegate : public VeltoPeerDiscoveryDelegate {
  public:
    void peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) override {
        record({PeerReport::added, key, peer});
    }
    void peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) override {
        record({PeerReport::modified, key, peer});
    }
    void peerDiscoveryWithRemoved(const std::string& key) override {
        record({PeerReport::removed, key, {}});
    }
    std::vector<PeerReport> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(reports_, {});
    }

  private:
    void record(PeerReport report) {
        std::lock_guard lock(mutex_);
        reports_.push_back(std::move(report));
    }
    std::mutex mutex_;
    std::vector<PeerReport> reports_;
};

// A server wired to the fakes above; no socket is opened unless a test starts it.
class FakeWiredServer : public VeltoServer {
  public:
    FakeWiredServer() : FakeWiredServer(4644, 4644) {}
    FakeWiredServer(std::uint16_t tcpPort, std::uint16_t udpPort)
        : VeltoServer(tcpPort, udpPort),
          machine(std::make_shared<FakeLocalMachine>()),
          sender(std::make_shared<RecordingSender>()),
          fetcher(std::make_shared<ManualFetcher>()),
          reports(std::make_shared<RecordingDelegate>()) {
        useLocalMachine(machine);
        useDatagramSender(sender);
        useAvatarFetcher(fetcher);
        setDelegate(reports);
    }
    using VeltoServer::useAvatarFetcher;
    using VeltoServer::useDatagramSender;
    using VeltoServer::useLocalMachine;

    std::shared_ptr<FakeLocalMachine> machine;
    std::shared_ptr<RecordingSender> sender;
    std::shared_ptr<ManualFetcher> fetcher;
    std::shared_ptr<RecordingDelegate> reports;
};

inline Bytes datagram(std::uint8_t type, std::string_view text) {
    Bytes out{type};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

inline Bytes datagramWithPort(std::uint8_t type, std::uint16_t port, std::string_view text) {
    Bytes out{type, static_cast<std::uint8_t>(port & 0xFF), static_cast<std::uint8_t>(port >> 8)};
    out.insert(out.end(), text.begin(), text.end());
    return out;
}

}  // namespace velto::test

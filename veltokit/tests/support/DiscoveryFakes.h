#pragma once

// Stand-ins for what discovery talks to (this machine, the UDP socket, the picture fetcher, the
// host's delegate); each records what it was given and may be used from any thread.

#include <algorithm>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "discovery/AvatarFetcher.h"
#include "discovery/DatagramSender.h"
#include "discovery/LocalMachine.h"
#include "velto/VeltoServer.h"

namespace velto::test {

template <typename Item>
class Recorder {
  public:
    void add(Item item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
    }
    std::vector<Item> take() {
        std::lock_guard lock(mutex_);
        std::vector<Item> taken(std::make_move_iterator(items_.begin()),
                                std::make_move_iterator(items_.end()));
        items_.clear();
        return taken;
    }
    std::size_t count() {
        std::lock_guard lock(mutex_);
        return items_.size();
    }
    Item next() {  // the oldest one, removed
        std::lock_guard lock(mutex_);
        Item item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

  private:
    std::mutex mutex_;
    std::deque<Item> items_;
};

struct FakeLocalMachine : LocalMachine {
    std::vector<InterfaceAddress> interfaces{{"eth0", "10.77.0.1", "255.255.255.0"}};
    std::optional<std::string> computer = std::string("Office");
    std::string fullName = "Ann Lee";

    std::vector<InterfaceAddress> interfaceAddresses() const override { return interfaces; }
    std::optional<std::string> computerName() const override { return computer; }
    std::string userFullName() const override { return fullName; }
    std::optional<Bytes> userPicturePng() const override { return std::nullopt; }
    std::string platformWord() const override { return "(Linux)"; }
};

struct SentDatagram {
    Bytes data;
    std::string host;
    std::uint16_t port;
};

// Records each datagram and completes it at once, with failure ("" by default: sent).
struct RecordingSender : DatagramSender, Recorder<SentDatagram> {
    void sendDatagram(const Bytes& data, const std::string& host, std::uint16_t port,
                      Completion done) override {
        add({data, host, port});
        if (done) {
            done(failure);
        }
    }
    std::string failure;
};

struct FetchRequest {
    std::string ip;
    std::uint16_t port;
    AvatarFetcher::Completion completion;  // the test answers when it likes
};

struct ManualFetcher : AvatarFetcher, Recorder<FetchRequest> {
    void fetch(const std::string& ip, std::uint16_t port, Completion completion) override {
        add({ip, port, std::move(completion)});
    }
};

struct PeerReport {
    enum Kind { added, modified, removed } kind;
    std::string key;
    VeltoPeer peer;  // empty for removed
};

struct RecordingDelegate : VeltoPeerDiscoveryDelegate, Recorder<PeerReport> {
    void peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) override {
        add({PeerReport::added, key, peer});
    }
    void peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) override {
        add({PeerReport::modified, key, peer});
    }
    void peerDiscoveryWithRemoved(const std::string& key) override {
        add({PeerReport::removed, key, {}});
    }
};

// A server wired to the fakes above; it opens no socket unless a test starts it.
struct FakeWiredServer : VeltoServer {
    explicit FakeWiredServer(std::uint16_t tcpPort = 4644, std::uint16_t udpPort = 4644)
        : VeltoServer(tcpPort, udpPort) {
        useLocalMachine(machine);
        useDatagramSender(sender);
        useAvatarFetcher(fetcher);
        setDelegate(reports);
    }
    std::shared_ptr<FakeLocalMachine> machine = std::make_shared<FakeLocalMachine>();
    std::shared_ptr<RecordingSender> sender = std::make_shared<RecordingSender>();
    std::shared_ptr<ManualFetcher> fetcher = std::make_shared<ManualFetcher>();
    std::shared_ptr<RecordingDelegate> reports = std::make_shared<RecordingDelegate>();
};

inline Bytes datagram(std::uint8_t type, std::string_view text) {
    // Sized first: growing a one-byte vector trips a false array-bounds warning of GCC 12.
    Bytes out(text.size() + 1, type);
    std::copy(text.begin(), text.end(), out.begin() + 1);
    return out;
}

}  // namespace velto::test

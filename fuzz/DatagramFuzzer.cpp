// The discovery handler fed datagrams from a few senders, and the picture fetches it starts
// answered in between, with the socket and the fetcher replaced. A small model of the peer
// table says what every step must change: the table, the reports, the replies and the fetches.
#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "support/DiscoveryFakes.h"
#include "support/FuzzInput.h"
#include "support/StrictUtf8.h"
#include "velto/Base64.h"

using velto::fuzz::require;
using velto::test::PeerReport;

namespace {

// The fake machine's own address, loopback and three peers.
const std::vector<std::string> senders{"10.77.0.1", "127.0.0.1", "10.77.0.20", "10.77.0.21",
                                       "192.168.1.20"};
constexpr std::uint16_t defaultPort = 4644;
constexpr std::size_t fetchesAtOnce = 8;  // the others wait for one of these to be answered

struct ModelPeer {
    std::uint16_t port;
    std::string signature;
    std::string avatar;
    unsigned generation;  // a new record after a goodbye is another generation
};

struct Expected {
    std::vector<std::pair<PeerReport::Kind, std::string>> reports;
    std::vector<std::pair<std::string, std::uint16_t>> replies;  // host, port
};

class Model {
  public:
    std::map<std::string, ModelPeer> table;
    struct Fetch {
        std::string key;
        unsigned generation;
    };
    std::deque<Fetch> fetches;  // asked for, oldest first; the first few are under way

    std::size_t fetchesUnderWay() const { return std::min(fetches.size(), fetchesAtOnce); }

    Expected datagram(const velto::Bytes& data, const std::string& sender) {
        Expected expected;
        if (sender == senders[0] || data.empty() || data[0] < 1 || data[0] > 5) {
            return expected;
        }
        const std::uint8_t type = data[0];
        if (type == 3) {
            if (table.erase(sender) != 0) {
                expected.reports.emplace_back(PeerReport::removed, sender);
            }
            return expected;
        }
        std::size_t textStart = 1;
        std::uint16_t port = defaultPort;
        if (type == 4 || type == 5) {
            if (data.size() < 3) {
                return expected;
            }
            port = static_cast<std::uint16_t>(data[1] | data[2] << 8);
            textStart = 3;
        }
        const std::string text(data.begin() + static_cast<std::ptrdiff_t>(textStart), data.end());
        if (!velto::fuzz::isStrictUtf8(text)) {
            return expected;
        }
        auto found = table.find(sender);
        if (found == table.end()) {
            found = table.emplace(sender, ModelPeer{port, text, "", ++generations_}).first;
            expected.reports.emplace_back(PeerReport::added, sender);
        } else {
            found->second.port = port;
            found->second.signature = text;
            expected.reports.emplace_back(PeerReport::modified, sender);
        }
        ModelPeer& peer = found->second;
        if (peer.avatar.empty() && port != 0xFFFF) {
            peer.avatar = "loading";
            fetches.push_back({sender, peer.generation});
        }
        if (type == 1 || type == 4) {
            expected.replies.emplace_back(sender, port);
        }
        return expected;
    }

    // The oldest fetch answered; the reports it must cause.
    Expected answer(const std::optional<velto::AvatarResponse>& response) {
        Expected expected;
        const Fetch fetch = fetches.front();
        fetches.pop_front();
        const auto found = table.find(fetch.key);
        if (response && response->status == 200 && !response->body.empty() &&
            found != table.end() && found->second.generation == fetch.generation) {
            found->second.avatar = "data:image/png;base64," + velto::Base64::encode(response->body);
            expected.reports.emplace_back(PeerReport::modified, fetch.key);
        }
        return expected;
    }

  private:
    unsigned generations_ = 0;
};

velto::test::FakeWiredServer& server() {
    static const auto instance = std::make_shared<velto::test::FakeWiredServer>();
    return *instance;
}

void forgetEverything(velto::test::FakeWiredServer& s) {
    while (s.fetcher->count() > 0) {
        s.fetcher->next().completion(std::nullopt);
    }
    for (const auto& [key, peer] : s.peers().snapshot()) {
        s.peers().remove(key);
    }
    s.reports->take();
    s.sender->take();
}

void check(velto::test::FakeWiredServer& s, const Model& model, const Expected& expected) {
    const auto reports = s.reports->take();
    require(reports.size() == expected.reports.size(), "one report per change");
    for (std::size_t i = 0; i < reports.size(); ++i) {
        require(reports[i].kind == expected.reports[i].first &&
                    reports[i].key == expected.reports[i].second,
                "the report of the change");
    }
    const auto sent = s.sender->take();
    require(sent.size() == expected.replies.size(), "announcements alone are answered");
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto& [host, port] = expected.replies[i];
        require(sent[i].host == host && sent[i].port == port, "the reply goes to the sender");
        require(!sent[i].data.empty() && sent[i].data[0] == (port == defaultPort ? 2 : 5),
                "a reply is a hello that asks for none");
    }
    require(s.fetcher->count() == model.fetchesUnderWay(), "one fetch per record, eight at once");
    const auto table = s.peers().snapshot();
    require(table.size() == model.table.size(), "the table holds the peers heard");
    for (const auto& [key, peer] : table) {
        const auto found = model.table.find(key);
        require(found != model.table.end(), "no record without its hello");
        require(peer.key == key && peer.ip == key, "a record's key and address are its sender");
        require(peer.port == found->second.port, "the port of the last hello");
        require(peer.systemSignature == found->second.signature, "the text of the last hello");
        require(peer.avatar == found->second.avatar, "the avatar state");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velto::fuzz::silenceDiagnostics();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& s = server();
    Model model;
    velto::fuzz::FuzzInput input(data, size);
    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        if (op >= 0xF0 && s.fetcher->count() > 0) {
            std::optional<velto::AvatarResponse> response;
            if ((op & 1) != 0) {
                response = velto::AvatarResponse{(op & 2) != 0 ? 200u : 404u,
                                                 input.bytes(input.byte() % 32)};
            }
            const Expected expected = model.answer(response);
            s.fetcher->next().completion(response);
            check(s, model, expected);
        } else {
            const std::string& sender = senders[op % senders.size()];
            const velto::Bytes datagram = input.bytes(input.byte());
            const Expected expected = model.datagram(datagram, sender);
            s.handleDatagram(datagram, sender);
            check(s, model, expected);
        }
    }
    // Left as found, so that every allocation of the run is freed by its end: the fuzzer's
    // leak check then has nothing to look into.
    forgetEverything(s);
    return 0;
}

#include <gtest/gtest.h>

#include <set>

#include "support/DiagnosticCapture.h"
#include "support/DiscoveryFakes.h"

namespace velto {
namespace {

using test::datagram;
using test::PeerReport;

constexpr auto peerIp = "192.168.1.20";

// The handler's rules for any sequence of datagrams and picture answers (records, reports,
// replies, fetches, late answers) are held against a model by the datagram fuzzer, and hello,
// reply and goodbye on the wire by the discovery scenario; here, a first meeting and the log.
class DiscoveryReceive : public ::testing::Test {
  protected:
    void receive(const Bytes& data, const std::string& sender = peerIp) {
        server->handleDatagram(data, sender);
    }
    // Takes the one report expected since the last look.
    PeerReport onlyReport() {
        auto reports = server->reports->take();
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? PeerReport{} : reports[0];
    }

    std::shared_ptr<test::FakeWiredServer> server = std::make_shared<test::FakeWiredServer>();
};

TEST_F(DiscoveryReceive, FirstAnnouncementAddsThePeerRepliesAndFetchesItsPictureOnce) {
    receive(datagram(1, "T"));
    const auto peer = server->peers().find(peerIp);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->ip, peerIp);
    EXPECT_EQ(peer->port, 4644);
    EXPECT_EQ(peer->systemSignature, "T");
    EXPECT_EQ(peer->avatar, "loading");
    EXPECT_EQ(onlyReport().kind, PeerReport::added);
    const auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].host, peerIp);
    EXPECT_EQ(sent[0].port, 4644);
    EXPECT_EQ(sent[0].data[0], 2);

    auto fetch = server->fetcher->next();
    EXPECT_EQ(fetch.port, 4645);
    EXPECT_FALSE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));
    fetch.completion(AvatarResponse{200, {'P', 'N', 'G'}});
    EXPECT_TRUE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));
    const auto report = onlyReport();
    EXPECT_EQ(report.kind, PeerReport::modified);
    EXPECT_EQ(report.peer.avatar, "data:image/png;base64,UE5H");
    receive(datagram(1, "T"));
    EXPECT_EQ(server->fetcher->count(), 0u);
}

TEST_F(DiscoveryReceive, LogsThePeerTableAfterEveryHandledDatagramButNotAfterARefusal) {
    test::DiagnosticCapture capture;
    receive(datagram(1, "Ann"));
    receive(datagram(3, "Bye Bye"), "192.168.1.99");  // a goodbye from a stranger counts too
    receive(Bytes{5, 1});
    const auto lines = capture.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[0].find(std::string(peerIp) + " port 4644 \"Ann\""), std::string::npos);
    EXPECT_NE(lines[1].find(peerIp), std::string::npos);
    for (std::size_t i = 2; i < lines.size(); ++i) {  // a refusal may be told, the table is not
        EXPECT_EQ(lines[i].find("Peers"), std::string::npos) << lines[i];
    }
}

// A crowded LAN: pictures are asked for at most eight at a time, the rest as answers come in,
// until every peer has one; the log names the table's size and the peer heard, not the table.
TEST_F(DiscoveryReceive, ACrowdGetsItsPicturesEightAtATimeAndALogLineEachOfItsOwnSize) {
    constexpr int crowd = 40;
    const auto address = [](int i) { return "192.168.2." + std::to_string(i); };
    test::DiagnosticCapture capture;
    for (int i = 1; i <= crowd; ++i) {
        receive(datagram(1, "P" + std::to_string(i)), address(i));
    }
    const auto lines = capture.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("Peers (40)"), std::string::npos) << lines.back();
    EXPECT_NE(lines.back().find(address(crowd) + " port 4644 \"P40\""), std::string::npos);
    EXPECT_EQ(lines.back().find(address(1) + " "), std::string::npos) << lines.back();

    EXPECT_EQ(server->fetcher->count(), 8u);
    std::set<std::string> asked;
    while (server->fetcher->count() > 0) {  // the slow server answers one at a time
        EXPECT_LE(server->fetcher->count(), 8u);
        auto fetch = server->fetcher->next();
        asked.insert(fetch.ip);
        fetch.completion(AvatarResponse{200, {'P', 'N', 'G'}});
    }
    EXPECT_EQ(asked.size(), std::size_t{crowd});
    EXPECT_TRUE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));
    for (const auto& [key, peer] : server->peers().snapshot()) {
        EXPECT_TRUE(peer.hasAvatarPicture()) << key;
    }
}

// A blocked computer leaves the table and is not heard again, by address or by signature; an
// invisible host says goodbye, stops answering, still hears the others, and greets on return.
TEST_F(DiscoveryReceive, BlockedComputersAreIgnoredAndAnInvisibleHostAnswersNobody) {
    receive(datagram(1, "Ann"));
    receive(datagram(1, "Bo Reed"), "192.168.1.30");
    server->reports->take();
    server->sender->take();
    server->setReceivePolicy(ReceivePolicy(ReceiveMode::Everyone, {}, {{peerIp, ""}}));
    server->broadcastDispatchQueue()->sync([] {});
    EXPECT_EQ(onlyReport().kind, PeerReport::removed);
    receive(datagram(1, "Ann"));
    EXPECT_FALSE(server->peers().find(peerIp));
    EXPECT_EQ(server->sender->count(), 0u);
    EXPECT_EQ(server->identityOf(peerIp).signature, "Ann");  // so that its entry can be completed
    server->setReceivePolicy(
        ReceivePolicy(ReceiveMode::Everyone, {{"192.168.1.30", ""}}, {{"10.9.9.9", "Ann"}}));
    receive(datagram(1, "Ann"), "192.168.1.40");  // the same computer at another address
    EXPECT_FALSE(server->peers().find("192.168.1.40"));
    receive(datagram(2, "Bo Reed"), "192.168.1.30");
    receive(datagram(3, "Bye Bye"), "192.168.1.30");  // a trusted computer is told after it left
    EXPECT_EQ(server->identityOf("192.168.1.30").signature, "Bo Reed");

    server->setVisible(false);
    const auto goodbye = server->sender->take();
    ASSERT_FALSE(goodbye.empty());
    EXPECT_EQ(goodbye[0].data[0], 3);
    receive(datagram(1, "Cy"), "192.168.1.50");
    EXPECT_TRUE(server->peers().find("192.168.1.50"));
    server->sayHello();
    EXPECT_EQ(server->sender->count(), 0u);
    server->setVisible(true);
    const auto hello = server->sender->take();
    ASSERT_FALSE(hello.empty());
    EXPECT_EQ(hello[0].data[0], 1);
}

}  // namespace
}  // namespace velto

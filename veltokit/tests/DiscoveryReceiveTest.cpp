#include <gtest/gtest.h>

#include "support/DiagnosticCapture.h"
#include "support/DiscoveryFakes.h"

namespace velto {
namespace {

using test::datagram;
using test::datagramWithPort;
using test::PeerReport;

constexpr auto peerIp = "192.168.1.20";
constexpr auto ownIp = "10.77.0.1";

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
    void expectNoEffect() {
        EXPECT_TRUE(server->reports->take().empty());
        EXPECT_TRUE(server->sender->take().empty());
        EXPECT_EQ(server->fetcher->count(), 0u);
    }

    std::shared_ptr<test::FakeWiredServer> server = std::make_shared<test::FakeWiredServer>();
};

TEST_F(DiscoveryReceive, FirstAnnouncementAddsPeerFetchesAvatarAndReplies) {
    receive(datagram(1, "T"));
    const auto peer = server->peers().find(peerIp);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->key, peerIp);
    EXPECT_EQ(peer->ip, peerIp);
    EXPECT_EQ(peer->port, 4644);
    EXPECT_EQ(peer->systemSignature, "T");
    EXPECT_EQ(peer->avatar, "loading");
    const auto added = onlyReport();
    EXPECT_EQ(added.kind, PeerReport::added);
    EXPECT_EQ(added.key, peerIp);
    const auto fetch = server->fetcher->next();
    EXPECT_EQ(fetch.ip, peerIp);
    EXPECT_EQ(fetch.port, 4645);
    const auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].host, peerIp);
    EXPECT_EQ(sent[0].port, 4644);
    EXPECT_EQ(sent[0].data[0], 2);
}

TEST_F(DiscoveryReceive, LaterHellosRefreshTheSameRecordAndOnlyAnnouncementsAreAnswered) {
    receive(datagram(1, "T"));
    const auto record = server->peers().record(peerIp);
    server->reports->take();
    server->sender->take();

    receive(datagramWithPort(5, 5000, "U"));  // a reply: refreshed, not answered
    EXPECT_EQ(server->peers().record(peerIp), record);
    const auto modified = onlyReport();
    EXPECT_EQ(modified.kind, PeerReport::modified);
    EXPECT_EQ(modified.peer.systemSignature, "U");
    EXPECT_EQ(modified.peer.port, 5000);
    EXPECT_TRUE(server->sender->take().empty());

    receive(datagramWithPort(4, 5000, "U"));  // answered on the announced port, with ours
    const auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].port, 5000);
    EXPECT_EQ(Bytes(sent[0].data.begin(), sent[0].data.begin() + 3), (Bytes{5, 0x24, 0x12}));
    EXPECT_EQ(server->fetcher->count(), 1u);  // only the first hello's fetch
}

TEST_F(DiscoveryReceive, GoodbyeRemovesAndALaterHelloMakesANewRecord) {
    receive(datagram(1, "T"));
    const auto first = server->peers().record(peerIp);
    server->reports->take();
    receive(datagram(3, "Bye Bye"));
    EXPECT_FALSE(server->peers().contains(peerIp));
    EXPECT_EQ(onlyReport().kind, PeerReport::removed);
    receive(datagram(3, "Bye Bye"));  // unknown now: nothing to report
    EXPECT_TRUE(server->reports->take().empty());

    receive(datagram(2, "T"));
    EXPECT_NE(server->peers().record(peerIp), first);
    EXPECT_EQ(onlyReport().kind, PeerReport::added);
    EXPECT_EQ(server->fetcher->count(), 2u);
}

TEST_F(DiscoveryReceive, OwnUnknownAndMalformedDatagramsChangeNothing) {
    receive(datagram(1, "T"));
    const auto before = *server->peers().find(peerIp);
    server->reports->take();
    server->sender->take();
    server->fetcher->next();
    test::DiagnosticCapture capture;
    for (const Bytes& dropped : {Bytes{}, Bytes{0}, datagram(6, "x"), Bytes{4}, Bytes{5, 1},
                                 datagram(1, "bad \xFF"), datagramWithPort(2, 1, "\xC3")}) {
        receive(dropped);
    }
    receive(datagram(1, "me"), ownIp);  // our own broadcast
    expectNoEffect();
    EXPECT_EQ(server->peers().size(), 1u);
    EXPECT_EQ(server->peers().find(peerIp)->systemSignature, before.systemSignature);
    EXPECT_EQ(server->peers().find(peerIp)->lastActiveTime, before.lastActiveTime);
    for (const auto& line : capture.lines()) {  // refusals may be told, the table is not
        EXPECT_EQ(line.find("Peers"), std::string::npos) << line;
    }
}

TEST_F(DiscoveryReceive, LogsThePeerTableAfterEveryHandledDatagram) {
    test::DiagnosticCapture capture;
    receive(datagram(1, "Ann"));
    receive(datagram(3, "Bye Bye"), "192.168.1.99");  // a goodbye from a stranger counts too
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(std::string(peerIp) + " port 4644 \"Ann\""), std::string::npos);
    EXPECT_NE(lines[1].find(peerIp), std::string::npos);
}

class AvatarFetch : public DiscoveryReceive {
  protected:
    // Announces the peer and answers its picture request with response.
    void announceAndAnswer(std::optional<AvatarResponse> response) {
        receive(datagram(1, "T"));
        server->reports->take();
        EXPECT_FALSE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));
        server->fetcher->next().completion(std::move(response));
        EXPECT_TRUE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));
    }
};

TEST_F(AvatarFetch, PictureBecomesADataUrlWithOneModifiedReport) {
    announceAndAnswer(AvatarResponse{200, {'P', 'N', 'G'}});
    EXPECT_EQ(server->peers().find(peerIp)->avatar, "data:image/png;base64,UE5H");
    const auto report = onlyReport();
    EXPECT_EQ(report.kind, PeerReport::modified);
    EXPECT_EQ(report.peer.avatar, "data:image/png;base64,UE5H");
    receive(datagram(1, "T"));
    EXPECT_EQ(server->fetcher->count(), 0u);  // fetched once per record
}

TEST_F(AvatarFetch, AnythingButAPictureLeavesLoadingForGood) {
    for (const auto& failure :
         {std::optional<AvatarResponse>{},
          std::optional(AvatarResponse{404, bytesOf("Avatar is unavailable.")}),
          std::optional(AvatarResponse{200, {}})}) {
        server = std::make_shared<test::FakeWiredServer>();
        announceAndAnswer(failure);
        EXPECT_EQ(server->peers().find(peerIp)->avatar, "loading");
        EXPECT_TRUE(server->reports->take().empty());
        receive(datagram(2, "T"));
        EXPECT_EQ(server->fetcher->count(), 0u);  // not retried while the record lives
    }
}

TEST_F(AvatarFetch, LateArrivalForAGoneRecordIsNotReported) {
    receive(datagram(1, "T"));
    auto stale = server->fetcher->next();
    receive(datagram(3, "Bye Bye"));
    receive(datagram(1, "T"));  // a new record, with its own fetch
    server->reports->take();
    stale.completion(AvatarResponse{200, {'o', 'l', 'd'}});
    EXPECT_TRUE(server->reports->take().empty());
    EXPECT_EQ(server->peers().find(peerIp)->avatar, "loading");
}

TEST_F(AvatarFetch, NoFetchForAPeerWhoseMetadataPortWouldWrap) {
    receive(datagramWithPort(5, 65535, "T"));
    EXPECT_EQ(server->fetcher->count(), 0u);
    receive(datagramWithPort(5, 4000, "T"));  // moved to a usable port
    EXPECT_EQ(server->fetcher->next().port, 4001);
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include "support/DiagnosticCapture.h"
#include "support/DiscoveryFakes.h"

namespace velto {
namespace {

using test::datagram;
using test::datagramWithPort;
using test::FakeWiredServer;
using test::PeerReport;

constexpr auto peerIp = "192.168.1.20";

class DiscoveryReceive : public ::testing::Test {
  protected:
    std::shared_ptr<FakeWiredServer> server = std::make_shared<FakeWiredServer>();

    // Everything observable a datagram may change.
    void expectNoEffect() {
        EXPECT_TRUE(server->reports->take().empty());
        EXPECT_TRUE(server->sender->take().empty());
        EXPECT_EQ(server->fetcher->count(), 0u);
    }
};

TEST_F(DiscoveryReceive, FirstAnnouncementAddsPeerFetchesAvatarAndReplies) {
    server->handleDatagram(datagram(1, "T"), peerIp);

    const auto peer = server->peers().find(peerIp);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->key, peerIp);
    EXPECT_EQ(peer->ip, peerIp);
    EXPECT_EQ(peer->port, 4644);
    EXPECT_EQ(peer->systemSignature, "T");
    EXPECT_EQ(peer->avatar, "loading");

    const auto reports = server->reports->take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, PeerReport::added);
    EXPECT_EQ(reports[0].key, peerIp);
    EXPECT_EQ(reports[0].peer.systemSignature, "T");

    ASSERT_EQ(server->fetcher->count(), 1u);
    const auto request = server->fetcher->next();
    EXPECT_EQ(request.ip, peerIp);
    EXPECT_EQ(request.port, 4645);

    const auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].host, peerIp);
    EXPECT_EQ(sent[0].port, 4644);
    EXPECT_EQ(sent[0].data[0], 2);
}

TEST_F(DiscoveryReceive, LaterHelloRefreshesTheSameRecordWithoutReplyOrSecondFetch) {
    server->handleDatagram(datagram(1, "T"), peerIp);
    const auto record = server->peers().record(peerIp);
    const auto firstSeen = server->peers().find(peerIp)->lastActiveTime;
    server->reports->take();
    server->sender->take();

    server->handleDatagram(datagram(2, "U"), peerIp);

    EXPECT_EQ(server->peers().record(peerIp), record);  // same object, new fields
    const auto peer = server->peers().find(peerIp);
    EXPECT_EQ(peer->systemSignature, "U");
    EXPECT_GE(peer->lastActiveTime, firstSeen);
    const auto reports = server->reports->take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, PeerReport::modified);
    EXPECT_EQ(reports[0].peer.systemSignature, "U");
    EXPECT_TRUE(server->sender->take().empty());
    EXPECT_EQ(server->fetcher->count(), 1u);  // only the first hello's fetch
}

TEST_F(DiscoveryReceive, PortFieldSetsThePeersPortForRepliesAndAvatar) {
    server->handleDatagram(datagramWithPort(5, 5000, "V"), peerIp);
    EXPECT_EQ(server->peers().find(peerIp)->port, 5000);
    EXPECT_TRUE(server->sender->take().empty());  // a reply is not answered
    EXPECT_EQ(server->fetcher->next().port, 5001);

    server->handleDatagram(datagram(1, "V"), peerIp);  // plain announcement: back to 4644
    EXPECT_EQ(server->peers().find(peerIp)->port, 4644);
    server->sender->take();

    server->handleDatagram(datagramWithPort(4, 5000, "V"), peerIp);
    const auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].port, 5000);
    EXPECT_EQ(sent[0].data[0], 5);  // answered with our port in the field
    EXPECT_EQ(sent[0].data[1], 0x24);
    EXPECT_EQ(sent[0].data[2], 0x12);
}

TEST_F(DiscoveryReceive, GoodbyeRemovesAndALaterHelloMakesANewRecord) {
    server->handleDatagram(datagram(1, "T"), peerIp);
    const auto first = server->peers().record(peerIp);
    server->reports->take();

    server->handleDatagram(datagram(3, "Bye Bye"), peerIp);
    EXPECT_FALSE(server->peers().contains(peerIp));
    auto reports = server->reports->take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, PeerReport::removed);
    EXPECT_EQ(reports[0].key, peerIp);

    server->handleDatagram(datagram(3, "Bye Bye"), peerIp);  // unknown now: nothing
    EXPECT_TRUE(server->reports->take().empty());

    server->handleDatagram(datagram(2, "T"), peerIp);
    EXPECT_NE(server->peers().record(peerIp), first);
    reports = server->reports->take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, PeerReport::added);
    EXPECT_EQ(server->fetcher->count(), 2u);
}

TEST_F(DiscoveryReceive, OwnUnknownAndMalformedDatagramsChangeNothing) {
    const std::vector<Bytes> dropped{{},
                                     {0},
                                     datagram(6, "x"),
                                     {4},
                                     {5, 1},
                                     datagram(1, "bad \xFF text"),
                                     datagramWithPort(4, 4644, "\xC3")};
    for (const auto& data : dropped) {
        server->handleDatagram(data, peerIp);
    }
    server->handleDatagram(datagram(1, "me"), "10.77.0.1");  // our own broadcast
    EXPECT_EQ(server->peers().size(), 0u);
    expectNoEffect();

    // A malformed datagram from a known peer leaves its record as it was.
    server->handleDatagram(datagram(1, "T"), peerIp);
    const auto before = *server->peers().find(peerIp);
    server->reports->take();
    server->sender->take();
    server->fetcher->next();
    server->handleDatagram(datagram(2, "\xFF"), peerIp);
    server->handleDatagram({5, 0}, peerIp);
    expectNoEffect();
    EXPECT_EQ(server->peers().find(peerIp)->systemSignature, before.systemSignature);
    EXPECT_EQ(server->peers().find(peerIp)->lastActiveTime, before.lastActiveTime);
}

TEST_F(DiscoveryReceive, LogsThePeerTableAfterEveryHandledDatagramOnly) {
    test::DiagnosticCapture capture;
    server->handleDatagram(datagram(1, "Ann"), peerIp);
    server->handleDatagram(datagram(3, "Bye Bye"), "192.168.1.99");  // unknown sender
    server->handleDatagram(datagram(7, "?"), peerIp);
    server->handleDatagram(datagram(1, "me"), "10.77.0.1");
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find(peerIp), std::string::npos);
    EXPECT_NE(lines[0].find("Ann"), std::string::npos);
    EXPECT_NE(lines[1].find(peerIp), std::string::npos);
}

class AvatarFetch : public DiscoveryReceive {
  protected:
    // Announces the peer and answers its avatar fetch with response.
    void announceAndAnswer(std::optional<AvatarResponse> response) {
        server->handleDatagram(datagram(1, "T"), peerIp);
        server->reports->take();
        EXPECT_FALSE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));
        server->fetcher->next().completion(std::move(response));
    }
};

TEST_F(AvatarFetch, PictureBecomesADataUrlWithOneModifiedReport) {
    announceAndAnswer(AvatarResponse{200, {'P', 'N', 'G'}});
    EXPECT_EQ(server->peers().find(peerIp)->avatar, "data:image/png;base64,UE5H");
    const auto reports = server->reports->take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, PeerReport::modified);
    EXPECT_EQ(reports[0].peer.avatar, "data:image/png;base64,UE5H");
    EXPECT_TRUE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));

    server->handleDatagram(datagram(1, "T"), peerIp);  // no new fetch once it has a picture
    EXPECT_EQ(server->fetcher->count(), 0u);
}

TEST_F(AvatarFetch, AnythingButAPictureLeavesLoadingForGood) {
    const std::vector<std::optional<AvatarResponse>> failures{
        std::nullopt,
        AvatarResponse{404, bytesOf("Avatar is unavailable.")},
        AvatarResponse{200, {}},
        AvatarResponse{500, {'P'}},
    };
    for (const auto& failure : failures) {
        server = std::make_shared<FakeWiredServer>();
        announceAndAnswer(failure);
        EXPECT_TRUE(server->waitForAvatarFetches(std::chrono::milliseconds(0)));
        EXPECT_EQ(server->peers().find(peerIp)->avatar, "loading");
        EXPECT_TRUE(server->reports->take().empty());
        server->handleDatagram(datagram(2, "T"), peerIp);
        EXPECT_EQ(server->fetcher->count(), 0u);  // not retried while the record lives
    }
}

TEST_F(AvatarFetch, LateArrivalForAGoneRecordIsNotReported) {
    server->handleDatagram(datagram(1, "T"), peerIp);
    auto stale = server->fetcher->next();
    server->handleDatagram(datagram(3, "Bye Bye"), peerIp);
    server->handleDatagram(datagram(1, "T"), peerIp);  // a new record, with its own fetch
    server->reports->take();

    stale.completion(AvatarResponse{200, {'o', 'l', 'd'}});
    EXPECT_TRUE(server->reports->take().empty());
    EXPECT_EQ(server->peers().find(peerIp)->avatar, "loading");

    server->fetcher->next().completion(AvatarResponse{200, {'n', 'e', 'w'}});
    EXPECT_EQ(server->peers().find(peerIp)->avatar, "data:image/png;base64,bmV3");
    EXPECT_EQ(server->reports->take().size(), 1u);
}

TEST_F(AvatarFetch, NoFetchForAPeerWhoseMetadataPortWouldWrap) {
    server->handleDatagram(datagramWithPort(5, 65535, "T"), peerIp);
    EXPECT_EQ(server->fetcher->count(), 0u);
    EXPECT_EQ(server->peers().find(peerIp)->avatar, "");
    server->handleDatagram(datagramWithPort(5, 4000, "T"), peerIp);  // moved to a usable port
    EXPECT_EQ(server->fetcher->next().port, 4001);
}

}  // namespace
}  // namespace velto

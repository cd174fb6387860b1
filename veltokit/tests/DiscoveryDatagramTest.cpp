#include <gtest/gtest.h>

#include "discovery/DiscoveryDatagram.h"
#include "support/DiscoveryFakes.h"

namespace velto {
namespace {

using test::datagram;

TEST(DiscoveryDatagram, ReadsTypePortAndTextAndWritesThemBack) {
    std::string refusal;
    const auto plain = DiscoveryDatagram::parse(datagram(2, "Ann at Office"), refusal);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->type, DiscoveryPacketType::helloReply);
    EXPECT_FALSE(plain->port);
    EXPECT_EQ(plain->text, "Ann at Office");

    const Bytes wire{5, 0x88, 0x13, 'Z', 'o', 0xC3, 0xAB};
    const auto withPort = DiscoveryDatagram::parse(wire, refusal);
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->port, 5000);
    EXPECT_EQ(withPort->text, "Zoë");
    EXPECT_EQ(withPort->encode(), wire);

    const auto bare = DiscoveryDatagram::parse({4, 0x24, 0x12}, refusal);  // empty signature
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->port, 4644);
    EXPECT_EQ(bare->text, "");
}

TEST(DiscoveryDatagram, RefusesMalformedOnesWithAReasonAndUnknownTypesSilently) {
    for (const Bytes& malformed : {Bytes{}, Bytes{4}, Bytes{5, 0x88}, datagram(1, "ok\xFF")}) {
        std::string refusal;
        EXPECT_FALSE(DiscoveryDatagram::parse(malformed, refusal));
        EXPECT_FALSE(refusal.empty());
    }
    for (const Bytes& unknown : {datagram(0, "x"), datagram(6, "x"), datagram(255, "")}) {
        std::string refusal = "stale";
        EXPECT_FALSE(DiscoveryDatagram::parse(unknown, refusal));
        EXPECT_TRUE(refusal.empty());
    }
    std::string refusal;  // a goodbye's text is never read, so it need not be UTF-8
    EXPECT_TRUE(DiscoveryDatagram::parse(datagram(3, "\xFF\xFE"), refusal));
}

}  // namespace
}  // namespace velto

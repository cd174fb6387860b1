#include <gtest/gtest.h>

#include "core/Utf8.h"
#include "discovery/DiscoveryDatagram.h"
#include "support/DiscoveryFakes.h"

namespace velto {
namespace {

using test::datagram;
using test::datagramWithPort;

TEST(DiscoveryDatagram, ReadsEveryTypeWithItsPortAndText) {
    std::string refusal;
    for (int type : {1, 2}) {
        auto hello = DiscoveryDatagram::parse(
            datagram(static_cast<std::uint8_t>(type), "Ann at Office"), refusal);
        ASSERT_TRUE(hello);
        EXPECT_EQ(static_cast<int>(hello->type), type);
        EXPECT_FALSE(hello->port);
        EXPECT_EQ(hello->text, "Ann at Office");
    }
    for (int type : {4, 5}) {
        auto hello = DiscoveryDatagram::parse(
            datagramWithPort(static_cast<std::uint8_t>(type), 5000, "sig"), refusal);
        ASSERT_TRUE(hello);
        EXPECT_EQ(hello->port, 5000);
        EXPECT_EQ(hello->text, "sig");
    }
    // A port field with nothing after it is a hello with an empty signature.
    auto bare = DiscoveryDatagram::parse({4, 0x24, 0x12}, refusal);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->port, 4644);
    EXPECT_EQ(bare->text, "");
    auto bye = DiscoveryDatagram::parse(datagram(3, "Bye Bye"), refusal);
    ASSERT_TRUE(bye);
    EXPECT_FALSE(bye->isHello());
    EXPECT_FALSE(bye->isAnnouncement());
}

TEST(DiscoveryDatagram, EncodesWhatItReads) {
    const DiscoveryDatagram hello{DiscoveryPacketType::helloReplyWithPort, 0x1388, "Zoë"};
    const Bytes wire = hello.encode();
    EXPECT_EQ(wire, (Bytes{5, 0x88, 0x13, 'Z', 'o', 0xC3, 0xAB}));
    std::string refusal;
    const auto back = DiscoveryDatagram::parse(wire, refusal);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, hello.type);
    EXPECT_EQ(back->port, hello.port);
    EXPECT_EQ(back->text, hello.text);
}

TEST(DiscoveryDatagram, RefusesMalformedDatagramsWithAReason) {
    const std::vector<Bytes> malformed{
        {},                                      // empty
        {4},                                     // no port field
        {5, 0x88},                               // half a port field
        datagram(1, "\xC3"),                     // cut-off sequence
        datagram(2, "\xC0\xAF"),                 // overlong '/'
        datagramWithPort(4, 1, "\xED\xA0\x80"),  // surrogate
        datagram(1, "\xF4\x90\x80\x80"),         // above U+10FFFF
        datagram(2, "ok\xFF"),
    };
    for (const auto& data : malformed) {
        std::string refusal;
        EXPECT_FALSE(DiscoveryDatagram::parse(data, refusal))
            << "datagram of " << data.size() << " bytes";
        EXPECT_FALSE(refusal.empty());
    }
}

TEST(DiscoveryDatagram, DropsUnknownTypesSilentlyAndNeverReadsGoodbyeText) {
    for (int type : {0, 6, 255}) {
        std::string refusal = "stale";
        EXPECT_FALSE(
            DiscoveryDatagram::parse(datagram(static_cast<std::uint8_t>(type), "x"), refusal));
        EXPECT_TRUE(refusal.empty());
    }
    std::string refusal;
    EXPECT_TRUE(DiscoveryDatagram::parse(datagram(3, "\xFF\xFE"), refusal));
}

TEST(Utf8, AcceptsWellFormedTextUpToTheLastCodePoint) {
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain ASCII"));
    EXPECT_TRUE(isValidUtf8("\xC2\x80\xDF\xBF"));                  // U+0080, U+07FF
    EXPECT_TRUE(isValidUtf8("\xE0\xA0\x80\xEF\xBF\xBF"));          // U+0800, U+FFFF
    EXPECT_TRUE(isValidUtf8("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));  // U+10000, U+10FFFF
    EXPECT_TRUE(isValidUtf8(std::string_view("a\0b", 3)));
    EXPECT_FALSE(isValidUtf8("\x80"));              // lone continuation
    EXPECT_FALSE(isValidUtf8("\xE0\x9F\xBF"));      // overlong three-byte form
    EXPECT_FALSE(isValidUtf8("\xF0\x8F\xBF\xBF"));  // overlong four-byte form
    EXPECT_FALSE(isValidUtf8("\xE2\x82"));          // cut off
    EXPECT_FALSE(isValidUtf8("\xE2\x28\xA1"));      // bad continuation
    EXPECT_FALSE(isValidUtf8("\xF5\x80\x80\x80"));
}

}  // namespace
}  // namespace velto

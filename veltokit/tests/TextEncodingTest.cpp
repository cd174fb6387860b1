#include <gtest/gtest.h>

#include "velto/TextEncoding.h"

namespace velto {
namespace {

TEST(TextEncoding, Windows1252RoundTripsEveryAssignedByte) {
    int unassigned = 0;
    for (int value = 0; value < 256; ++value) {
        const Bytes byte{static_cast<std::uint8_t>(value)};
        const auto text = decodeText(byte, TextEncoding::windows1252);
        if (!text) {
            ++unassigned;
            continue;
        }
        EXPECT_EQ(encodeText(*text, TextEncoding::windows1252), byte) << value;
        EXPECT_EQ(encodeText(*text, TextEncoding::utf8), bytesOf(*text)) << value;
    }
    EXPECT_EQ(unassigned, 5);  // 0x81, 0x8D, 0x8F, 0x90, 0x9D
}

TEST(TextEncoding, RefusesMalformedOrUnrepresentableText) {
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xF4\x90\x80\x80", "\x80"}) {
        EXPECT_FALSE(encodeText(bad, TextEncoding::utf8)) << bad;
        EXPECT_FALSE(encodeText(bad, TextEncoding::windows1252)) << bad;
        EXPECT_FALSE(decodeText(bytesOf(bad), TextEncoding::utf8)) << bad;
    }
    EXPECT_FALSE(encodeText("\xE6\x97\xA5", TextEncoding::windows1252));  // a CJK character
    EXPECT_EQ(decodeText(bytesOf("\xF0\x9F\x98\x80"), TextEncoding::utf8), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace velto

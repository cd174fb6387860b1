#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "support/DiagnosticCapture.h"
#include "support/Misuse.h"
#include "velto/BinUtils.h"

namespace velto {

template <typename T>
requires requires(const T& v) {
    v.value;
}
void PrintTo(const T& wrapped, std::ostream* os) {
    *os << wrapped.value;
}

namespace {

using test::DiagnosticCapture;
using test::expectMisuse;

Bytes hex(std::string_view text) {
    return unhexlify(text).value();
}

std::string hexOf(const Bytes& bytes) {
    return hexlify(bytes);
}

TEST(BinUtilsPack, WireFormatsAndTheirFastForms) {
    const std::uint64_t all = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(hexOf(pack("<Q", {PackUInt64{1}})), "0100000000000000");
    EXPECT_EQ(hexOf(pack("<Q", {PackUInt64{all}})), "ffffffffffffffff");
    EXPECT_EQ(hexOf(pack("<QQ", {PackUInt64{2}, PackUInt64{10}})),
              "02000000000000000a00000000000000");
    EXPECT_EQ(hexOf(pack("<H", {PackUInt{4644}})), "2412");
    EXPECT_EQ(hexOf(pack(">H", {PackUInt{1}})), "0001");

    for (const std::uint64_t value :
         {std::uint64_t{0}, std::uint64_t{4644}, std::uint64_t{0x0102030405060708}, all}) {
        const auto port = static_cast<std::uint16_t>(value);
        EXPECT_EQ(packLittleEndianUInt16(port), pack("<H", {PackUInt{port}}));
        EXPECT_EQ(packLittleEndianUInt64(value), pack("<Q", {PackUInt64{value}}));
        EXPECT_EQ(packLittleEndianUInt64Pair(value, ~value),
                  pack("<QQ", {PackUInt64{value}, PackUInt64{~value}}));
        EXPECT_EQ(unpackLittleEndianUInt16(packLittleEndianUInt16(port)), port);
        EXPECT_EQ(unpackLittleEndianUInt64(packLittleEndianUInt64(value)), value);
        EXPECT_EQ(unpackLittleEndianUInt64Pair(packLittleEndianUInt64Pair(value, 7)),
                  std::pair(value, std::uint64_t{7}));
    }
    EXPECT_FALSE(unpackLittleEndianUInt16(hex("01")));
    EXPECT_FALSE(unpackLittleEndianUInt64(Bytes(9)));
    EXPECT_FALSE(unpackLittleEndianUInt64Pair(Bytes(15)));
}

TEST(BinUtilsPack, CountsPaddingAndTextFields) {
    EXPECT_EQ(hexOf(pack("<2H", {PackUInt{1}, PackUInt{2}})), "01000200");
    EXPECT_EQ(hexOf(pack("<3x", {})), "000000");
    EXPECT_EQ(hexOf(pack("<4s", {"ab"})), "61620000");
    EXPECT_EQ(hexOf(pack("<2s", {"abcd"})), "6162");
    EXPECT_EQ(hexOf(pack("<0s", {"abc"})), "61");
    EXPECT_EQ(hexOf(pack("<?", {true})), "01");
    EXPECT_EQ(hexOf(pack("<12x", {})), std::string(24, '0'));  // counts have several digits
    EXPECT_EQ(hexOf(pack("<b", {PackInt{-2}})), "fe");
    EXPECT_EQ(hexOf(pack("<H", {PackUInt{0x12345}})), "4523");  // narrowed to the width
    EXPECT_EQ(hexOf(pack("<B", {PackUInt{1}, "ignored", PackUInt{9}})), "01");

    // Text is reversed by a big-endian pack but never by unpack.
    EXPECT_EQ(hexOf(pack(">4s", {"abcd"})), "64636261");
    EXPECT_EQ(unpack(">4s", pack(">4s", {"abcd"})), std::vector<PackValue>{"dcba"});
}

TEST(BinUtilsPack, TextEncodings) {
    EXPECT_EQ(hexOf(pack("<3s", {"\xE2\x82\xAC\xC3\xA9z"})), "80e97a");  // euro, e-acute, z
    EXPECT_EQ(hexOf(pack("<3s", {"\xC3\xA9z"}, TextEncoding::utf8)), "c3a97a");
    EXPECT_EQ(hexOf(pack("<c", {"\xE2\x82\xAC"
                                "uro"})),
              "80");
    EXPECT_EQ(hexOf(pack("<c", {"\xE2\x82\xAC"}, TextEncoding::utf8)), "e282ac");

    EXPECT_EQ(unpack("<2s", hex("80e9")), std::vector<PackValue>{"\xE2\x82\xAC\xC3\xA9"});
    EXPECT_EQ(unpack("<2s", hex("c3a9"), TextEncoding::utf8), std::vector<PackValue>{"\xC3\xA9"});
    EXPECT_EQ(unpack("<4s", hex("61620000")), std::vector<PackValue>{std::string("ab\0\0", 4)});
}

TEST(BinUtilsUnpack, ValueKindsAndByteOrders) {
    float single = 1.5f;
    Bytes image(4);
    std::memcpy(image.data(), &single, 4);
    EXPECT_EQ(unpack("<f", image), std::vector<PackValue>{1.5});
    EXPECT_TRUE(unpack("<", {}).empty());
    EXPECT_EQ(unpack("< H x", hex("010000")), std::vector<PackValue>{PackUInt{1}});

    // Every code through a full round trip, in both byte orders: unpack reads what pack, checked
    // byte for byte above, wrote.
    const std::vector<PackValue> values = {PackInt{-5},
                                           PackUInt{200},
                                           true,
                                           PackInt{-300},
                                           PackUInt{60000},
                                           PackInt{-70000},
                                           PackUInt{4000000000},
                                           PackInt64{-(std::int64_t{1} << 40)},
                                           PackUInt64{std::uint64_t{1} << 63},
                                           0.25,
                                           -1e300,
                                           "xyz",
                                           "q"};
    for (const char* format : {"<bB?hHlIqQfd3sxc", "!bB?hHiLqQfd3sxc"}) {
        SCOPED_TRACE(format);
        const Bytes packed = pack(format, values);
        ASSERT_EQ(packed.size(), numberOfBytesInFormat(format));
        auto expected = values;
        if (format[0] == '!') {
            expected[11] = "zyx";  // the big-endian text asymmetry
        }
        EXPECT_EQ(unpack(format, packed), expected);
    }
}

TEST(BinUtilsUnpack, ReportedFailures) {
    {
        DiagnosticCapture capture;
        try {
            unpack("<Q", Bytes(7));
            ADD_FAILURE() << "no error thrown";
        } catch (const BinUtilsError& error) {
            ASSERT_NE(error.lengthMismatch(), nullptr);
            EXPECT_EQ(*error.lengthMismatch(), (BinUtilsError::FormatDoesMatchDataLength{"<Q", 7}));
        }
        EXPECT_EQ(capture.lines(),
                  std::vector<std::string>{"format \"<Q\" expects 8 bytes but data is 7 bytes"});
    }
    for (const auto& [format, size, character] :
         {std::tuple{"<P", 8, 'P'}, std::tuple{"<H<", 2, '<'}, std::tuple{"<Hs2P", 19, 'P'}}) {
        try {
            unpack(format, Bytes(static_cast<std::size_t>(size)));
            ADD_FAILURE() << format << ": no error thrown";
        } catch (const BinUtilsError& error) {
            ASSERT_NE(error.unsupported(), nullptr) << error.what();
            EXPECT_EQ(error.unsupported()->character, character);
        }
    }
    EXPECT_TRUE(formatDoesMatchDataLength("<2s3H x", 9));
    EXPECT_EQ(numberOfBytesInFormat(""), 0u);
    EXPECT_EQ(numberOfBytesInFormat("<P"), 8u);
    EXPECT_EQ(numberOfBytesInFormat(">10s2d"), 26u);

    // Counts too long for any buffer stick at the largest size instead of wrapping around to a
    // small one (2^64 + 1 would read as 1), and spaces take no time however often repeated.
    const std::string absurd = "<18446744073709551617B";
    EXPECT_EQ(numberOfBytesInFormat(absurd), std::numeric_limits<std::size_t>::max());
    EXPECT_THROW(unpack(absurd, Bytes(1)), BinUtilsError);
    EXPECT_TRUE(unpack("<99999999999999999999999 ", Bytes{}).empty());
}

TEST(BinUtilsMisuse, StopsWhereAssertionsAreOnAndCarriesOnElsewhere) {
    auto isEmpty = [](const auto& result) { EXPECT_TRUE(result.empty()); };
    expectMisuse([] { return pack("<2s", {"\xE6\x97\xA5"}); }, "cannot decode character ", isEmpty);
    expectMisuse([] { return pack("<c", {"\xF0\x9F\x98\x80"}, TextEncoding::utf8); },
                 "cannot decode character ", isEmpty);
    expectMisuse([] { return pack("<HH", {PackUInt{1}}); }, "missing value", isEmpty);
    expectMisuse([] { return pack("<H", {"1"}); }, "wrong kind of value", isEmpty);
    expectMisuse([] { return pack("<s", {PackUInt{1}}); }, "wrong kind of value", isEmpty);
    expectMisuse([] { return unpack("<s", hex("81")); }, "-- not a string: 81", isEmpty);
    expectMisuse([] { return unpack("<c", hex("ff"), TextEncoding::utf8); }, "", isEmpty);

    auto bytesAre = [](std::string expected) {
        return [expected](const Bytes& result) { EXPECT_EQ(hexlify(result), expected); };
    };
    expectMisuse([] { return pack("@H", {PackUInt{1}}); },
                 "native size and alignment '@' is unsupported'", bytesAre("0100"));
    expectMisuse([] { return pack("HH", {PackUInt{1}}); }, "unsupported format chacracter'",
                 bytesAre("0100"));
    expectMisuse(
        [] {
            return pack("<PB", {PackUInt{1}, PackUInt{2}});
        },
        "Unsupported packing format: P", bytesAre("02"));

    auto isFalse = [](bool result) { EXPECT_FALSE(result); };
    expectMisuse([] { return isBigEndianFromMandatoryByteOrderFirstCharacter(""); }, "empty format",
                 isFalse);
    expectMisuse([] { return isBigEndianFromMandatoryByteOrderFirstCharacter("@H"); },
                 "native size and alignment is unsupported", isFalse);
    expectMisuse([] { return isBigEndianFromMandatoryByteOrderFirstCharacter("H"); },
                 "format 'H' first character must be among '=<>!'", isFalse);
    expectMisuse([] { return numberOfBytesInFormat("<HZ"); }, "-- unsupported format Z",
                 [](std::size_t size) { EXPECT_EQ(size, 2u); });
}

TEST(BinUtilsRead, AdvancesTheCursorInEitherByteOrder) {
    const Bytes data = hex("0102 0304 3ff8000000000000");
    std::size_t loc = 0;
    EXPECT_EQ(readIntegerType<std::uint16_t>(data, loc, true), 0x0102);
    EXPECT_EQ(readIntegerType<std::int16_t>(data, loc, false), 0x0403);
    EXPECT_EQ(readFloatingPointType<double>(data, loc, true), 1.5);
    EXPECT_EQ(loc, data.size());
    expectMisuse([&] { return readIntegerType<std::uint8_t>(data, loc, false); }, "passes the end",
                 [&](std::uint8_t value) {
                     EXPECT_EQ(value, 0);
                     EXPECT_EQ(loc, data.size());
                 });
}

// Which texts are accepted is checked against the rule by the unhexlify fuzzer; here, the
// exact refusals.
TEST(Hex, ConvertsBothWaysAndTellsWhyATextIsRefused) {
    EXPECT_EQ(hexlify(Bytes{0x00, 0x0A, 0xFF}), "000aff");
    EXPECT_EQ(unhexlify(" 0 00A F F "), (Bytes{0x00, 0x0A, 0xFF}));
    DiagnosticCapture capture;
    EXPECT_FALSE(unhexlify("0x41"));
    EXPECT_FALSE(unhexlify("00\t0a"));  // only the ordinary space is skipped
    EXPECT_FALSE(unhexlify("abc"));
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"-- found non hex character at range 1",
                                                         "-- found non hex character at range 2",
                                                         "-- odd number of hex digits: 3"}));
}

}  // namespace
}  // namespace velto

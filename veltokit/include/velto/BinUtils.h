#pragma once

// The packing language: a format string names a byte order ("<" or "=" little-endian, ">" or
// "!" big-endian) and a sequence of codes, each optionally preceded by a decimal repeat count
// (0 and a missing count both mean 1):
//
//   x pad byte   c one character   b/B 8-bit   ? bool   h/H 16-bit   i/l/I/L 32-bit
//   q/Q 64-bit   f float (from/to double)   d double   s text of `count` bytes
//
// `pack` turns values into bytes and `unpack` bytes into values. Every wire integer of the
// protocol goes through "<H", "<Q" or "<QQ"; those have allocation-free fast forms below.
//
// Misuse (an unsupported byte-order or code character, text the encoding cannot carry, too
// few values, a value of the wrong kind) is a programming error: builds with assertions stop
// with a message, release builds carry on as documented per function.

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "velto/Bytes.h"
#include "velto/Export.h"
#include "velto/TextEncoding.h"

namespace velto {

// The platform word (64 bits here) and the explicit 64-bit kinds are distinct kinds of value,
// as `unpack` reports them: b, h, i, l give PackInt; B, H, I, L give PackUInt; q gives PackInt64;
// Q gives PackUInt64.
struct PackInt {
    std::int64_t value;
    bool operator==(const PackInt&) const = default;
};
struct PackUInt {
    std::uint64_t value;
    bool operator==(const PackUInt&) const = default;
};
struct PackInt64 {
    std::int64_t value;
    bool operator==(const PackInt64&) const = default;
};
struct PackUInt64 {
    std::uint64_t value;
    bool operator==(const PackUInt64&) const = default;
};

using PackValue = std::variant<std::string, bool, PackInt, PackUInt, PackInt64, PackUInt64, double>;

// The one failure `unpack` reports by throwing.
class VELTO_EXPORT BinUtilsError : public std::exception {
  public:
    struct FormatDoesMatchDataLength {
        std::string format;
        std::size_t dataSize;
        bool operator==(const FormatDoesMatchDataLength&) const = default;
    };
    struct UnsupportedFormat {
        char character;
        bool operator==(const UnsupportedFormat&) const = default;
    };

    static BinUtilsError formatDoesMatchDataLength(std::string format, std::size_t dataSize);
    static BinUtilsError unsupportedFormat(char character);

    // Exactly one of the two holds a value.
    const FormatDoesMatchDataLength* lengthMismatch() const {
        return std::get_if<FormatDoesMatchDataLength>(&reason_);
    }
    const UnsupportedFormat* unsupported() const {
        return std::get_if<UnsupportedFormat>(&reason_);
    }

    const char* what() const noexcept override { return description_.c_str(); }

  private:
    using Reason = std::variant<FormatDoesMatchDataLength, UnsupportedFormat>;
    BinUtilsError(Reason reason, std::string description)
        : reason_(std::move(reason)), description_(std::move(description)) {}

    Reason reason_;
    std::string description_;
};

// Packs the values in order; values beyond those the codes take are ignored. Integers are
// narrowed to the code's width (two's complement wrap-around). Returns an empty buffer when a
// text cannot be encoded, a value is missing, or a value's kind does not suit its code (text
// for a number or a number for text); numeric kinds convert into each other freely. "s" and
// "c" bytes are reversed in big-endian mode, like numbers.
VELTO_EXPORT Bytes pack(std::string_view format, std::span<const PackValue> values,
                        TextEncoding encoding = TextEncoding::windows1252);
VELTO_EXPORT Bytes pack(std::string_view format, std::initializer_list<PackValue> values,
                        TextEncoding encoding = TextEncoding::windows1252);

// Unpacks data that must be exactly numberOfBytesInFormat(format) long. Throws
// BinUtilsError::formatDoesMatchDataLength (after printing the mismatch line) for any other
// length, and BinUtilsError::unsupportedFormat for a code it cannot read (including "P" and
// byte-order characters after the first). Returns an empty list when a text field cannot be
// decoded. Text is never reversed, whatever the byte order.
VELTO_EXPORT std::vector<PackValue> unpack(std::string_view format,
                                           std::span<const std::uint8_t> data,
                                           TextEncoding encoding = TextEncoding::windows1252);

// Bytes that the format describes; "P" counts 8, byte-order characters and space count 0.
VELTO_EXPORT std::size_t numberOfBytesInFormat(std::string_view format);

// True when the data has the format's size; otherwise prints one diagnostic line and returns
// false.
VELTO_EXPORT bool formatDoesMatchDataLength(std::string_view format, std::size_t dataSize);
inline bool formatDoesMatchDataLength(std::string_view format, std::span<const std::uint8_t> data) {
    return formatDoesMatchDataLength(format, data.size());
}

// ">" and "!" are big-endian, "<" and "=" little-endian; anything else (and "@", which is
// accepted with a complaint) yields false.
VELTO_EXPORT bool isBigEndianFromMandatoryByteOrderFirstCharacter(std::string_view format);

// Reads one value of T at `loc` in the given byte order and advances `loc` by sizeof(T).
// Reading past the end is a programming error; release builds return 0 and leave `loc`.
template <typename T>
requires std::integral<T> T readIntegerType(std::span<const std::uint8_t> bytes, std::size_t& loc,
                                            bool isBigEndian);

template <std::floating_point T>
T readFloatingPointType(std::span<const std::uint8_t> bytes, std::size_t& loc, bool isBigEndian);

// Lower-case hex digits, two per byte, no separators.
VELTO_EXPORT std::string hexlify(std::span<const std::uint8_t> data);

// Reads hex digits (either case; ordinary spaces are ignored). No value, and a diagnostic
// line, when a character is not a hex digit or when the digit count is odd.
VELTO_EXPORT std::optional<Bytes> unhexlify(std::string_view text);

// Allocation-free forms of the wire formats "<H", "<Q" and "<QQ". The append forms add to an
// existing buffer; the read forms give no value when the data's length differs from the
// format's, and print nothing.
VELTO_EXPORT void appendLittleEndianUInt16(Bytes& out, std::uint16_t value);
VELTO_EXPORT void appendLittleEndianUInt64(Bytes& out, std::uint64_t value);
VELTO_EXPORT Bytes packLittleEndianUInt16(std::uint16_t value);                            // "<H"
VELTO_EXPORT Bytes packLittleEndianUInt64(std::uint64_t value);                            // "<Q"
VELTO_EXPORT Bytes packLittleEndianUInt64Pair(std::uint64_t first, std::uint64_t second);  // "<QQ"
VELTO_EXPORT std::optional<std::uint16_t> unpackLittleEndianUInt16(
    std::span<const std::uint8_t> data);
VELTO_EXPORT std::optional<std::uint64_t> unpackLittleEndianUInt64(
    std::span<const std::uint8_t> data);
VELTO_EXPORT std::optional<std::pair<std::uint64_t, std::uint64_t>> unpackLittleEndianUInt64Pair(
    std::span<const std::uint8_t> data);

namespace detail {
VELTO_EXPORT bool readFitsOrComplain(std::size_t size, std::size_t loc, std::size_t width);

template <typename T>
T readHostImage(std::span<const std::uint8_t> bytes, std::size_t& loc, bool isBigEndian) {
    std::uint8_t image[sizeof(T)];
    std::memcpy(image, bytes.data() + loc, sizeof(T));
    const bool dataIsBig = isBigEndian;
    const bool hostIsBig = std::endian::native == std::endian::big;
    if (dataIsBig != hostIsBig) {
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
            std::swap(image[i], image[sizeof(T) - 1 - i]);
        }
    }
    loc += sizeof(T);
    T value;
    std::memcpy(&value, image, sizeof(T));
    return value;
}
}  // namespace detail

template <typename T>
requires std::integral<T> T readIntegerType(std::span<const std::uint8_t> bytes, std::size_t& loc,
                                            bool isBigEndian) {
    if (!detail::readFitsOrComplain(bytes.size(), loc, sizeof(T))) {
        return T{};
    }
    if constexpr (std::same_as<T, bool>) {
        return bytes[loc++] != 0;  // any non-zero byte reads as true
    } else {
        return detail::readHostImage<T>(bytes, loc, isBigEndian);
    }
}

template <std::floating_point T>
T readFloatingPointType(std::span<const std::uint8_t> bytes, std::size_t& loc, bool isBigEndian) {
    if (!detail::readFitsOrComplain(bytes.size(), loc, sizeof(T))) {
        return T{};
    }
    return detail::readHostImage<T>(bytes, loc, isBigEndian);
}

}  // namespace velto

#include "velto/BinUtils.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "core/ProgrammingError.h"
#include "velto/Diagnostics.h"

namespace velto {
namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelled out for compilers without aggregate deduction (clang before 17).
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::size_t digitValue(char c) {
    return static_cast<std::size_t>(c - '0');
}

// Counts from a format may be absurdly long: they stick at the largest value rather than wrap
// around to a small one, so that no size count can come out equal to a real buffer's length.
constexpr std::size_t saturated = std::numeric_limits<std::size_t>::max();

std::size_t saturatingAdd(std::size_t a, std::size_t b) {
    return a > saturated - b ? saturated : a + b;
}

std::size_t saturatingMultiply(std::size_t a, std::size_t b) {
    return b != 0 && a > saturated / b ? saturated : a * b;
}

// Calls visit(code, count) for each code with its count (a missing count and 0 both mean 1);
// stops and returns false as soon as visit does.
template <typename Visit>
bool forEachCode(std::string_view codes, Visit visit) {
    std::size_t count = 0;
    for (const char code : codes) {
        if (isDigit(code)) {
            count = saturatingAdd(saturatingMultiply(count, 10), digitValue(code));
            continue;
        }
        const std::size_t repeat = std::max<std::size_t>(count, 1);
        count = 0;
        if (!visit(code, repeat)) {
            return false;
        }
    }
    return true;
}

// Bytes per repeat of a code, for the size count; no value for a character outside the table.
std::optional<std::size_t> codeSize(char code) {
    switch (code) {
        case 'x':
        case 'c':
        case 'b':
        case 'B':
        case '?':
            return 1;
        case 'h':
        case 'H':
            return 2;
        case 'i':
        case 'l':
        case 'I':
        case 'L':
        case 'f':
            return 4;
        case 'q':
        case 'Q':
        case 'd':
        case 'P':
            return 8;
        case '@':
        case '<':
        case '=':
        case '>':
        case '!':
        case ' ':
            return 0;
        default:
            return std::nullopt;
    }
}

std::size_t sizeOfFormat(std::string_view format, bool complain) {
    std::size_t total = 0;
    forEachCode(format, [&](char code, std::size_t repeat) {
        if (code == 's') {
            total = saturatingAdd(total, repeat);
        } else if (const auto size = codeSize(code)) {
            total = saturatingAdd(total, saturatingMultiply(*size, repeat));
        } else if (complain) {
            programmingError(std::string("-- unsupported format ") + code);
        }
        return true;
    });
    return total;
}

// The image of a number in the requested byte order.
template <typename T>
void appendNumber(Bytes& out, T value, bool bigEndian) {
    std::uint8_t image[sizeof(T)];
    std::memcpy(image, &value, sizeof(T));
    if (bigEndian != (std::endian::native == std::endian::big)) {
        std::reverse(std::begin(image), std::end(image));
    }
    out.insert(out.end(), std::begin(image), std::end(image));
}

void appendText(Bytes& out, Bytes text, bool bigEndian) {
    if (bigEndian) {
        std::reverse(text.begin(), text.end());
    }
    out.insert(out.end(), text.begin(), text.end());
}

// A value converted to what a numeric code stores; text never converts, and a double only
// goes to the floating-point codes (its conversion to an integer may be undefined).
template <typename T>
std::optional<T> numericValue(const PackValue& value) {
    return std::visit(
        Overloaded{
            [](const std::string&) -> std::optional<T> { return std::nullopt; },
            [](bool flag) -> std::optional<T> { return static_cast<T>(flag); },
            [](double number) -> std::optional<T> {
                if constexpr (std::is_same_v<T, float>) {
                    // Out-of-range doubles become infinities rather than undefined behaviour.
                    if (std::isfinite(number) &&
                        std::fabs(number) > std::numeric_limits<float>::max()) {
                        return std::copysign(std::numeric_limits<float>::infinity(),
                                             static_cast<float>(std::signbit(number) ? -1 : 1));
                    }
                    return static_cast<float>(number);
                } else if constexpr (std::is_floating_point_v<T>) {
                    return number;
                } else {
                    return std::nullopt;
                }
            },
            [](auto integer) -> std::optional<T> { return static_cast<T>(integer.value); },
        },
        value);
}

// The UTF-8 bytes of the text's first character, if that character is a single UTF-16 unit.
std::optional<std::string_view> firstCharacter(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const auto lead = static_cast<std::uint8_t>(text.front());
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 0;
    if (length == 0 || length > text.size()) {
        return std::nullopt;  // beyond the basic plane: its first unit is half a pair
    }
    return text.substr(0, length);
}

class Packer {
  public:
    Packer(std::span<const PackValue> values, TextEncoding encoding, bool bigEndian, Bytes& out)
        : values_(values), encoding_(encoding), bigEndian_(bigEndian), out_(out) {}

    // False when packing must stop with an empty result.
    bool packText(char code, std::size_t count) {
        const std::string* text = nextText(code);
        if (text == nullptr) {
            return false;
        }
        auto encoded = encodeText(*text, encoding_);
        if (!encoded) {
            return cannotEncode(*text);
        }
        encoded->resize(count, 0x00);
        appendText(out_, std::move(*encoded), bigEndian_);
        return true;
    }

    bool packOne(char code) {
        switch (code) {
            case 'x':
                out_.push_back(0x00);
                return true;
            case 'c':
                return packCharacter();
            case '?':
                return packNumber<bool>(code);
            case 'b':
                return packNumber<std::int8_t>(code);
            case 'B':
                return packNumber<std::uint8_t>(code);
            case 'h':
                return packNumber<std::int16_t>(code);
            case 'H':
                return packNumber<std::uint16_t>(code);
            case 'i':
            case 'l':
                return packNumber<std::int32_t>(code);
            case 'I':
            case 'L':
                return packNumber<std::uint32_t>(code);
            case 'q':
                return packNumber<std::int64_t>(code);
            case 'Q':
                return packNumber<std::uint64_t>(code);
            case 'f':
                return packNumber<float>(code);
            case 'd':
                return packNumber<double>(code);
            default:
                programmingError(std::string("Unsupported packing format: ") + code);
                if (next_ < values_.size()) {
                    ++next_;  // the code still takes its value, so later codes stay aligned
                }
                return true;
        }
    }

  private:
    const PackValue* nextValue(char code) {
        if (next_ >= values_.size()) {
            programmingError(std::string("missing value for packing format: ") + code);
            return nullptr;
        }
        return &values_[next_++];
    }

    const std::string* nextText(char code) {
        const PackValue* value = nextValue(code);
        if (value == nullptr) {
            return nullptr;
        }
        const auto* text = std::get_if<std::string>(value);
        if (text == nullptr) {
            wrongKind(code);
        }
        return text;
    }

    static bool wrongKind(char code) {
        programmingError(std::string("wrong kind of value for packing format: ") + code);
        return false;
    }

    bool cannotEncode(const std::string& text) const {
        programmingError("cannot decode character " + text + " using encoding " +
                         std::string(encodingName(encoding_)));
        return false;
    }

    template <typename T>
    bool packNumber(char code) {
        const PackValue* value = nextValue(code);
        if (value == nullptr) {
            return false;
        }
        const auto number = numericValue<T>(*value);
        if (!number) {
            return wrongKind(code);
        }
        if constexpr (std::is_same_v<T, bool>) {
            out_.push_back(*number ? 0x01 : 0x00);
        } else {
            appendNumber(out_, *number, bigEndian_);
        }
        return true;
    }

    bool packCharacter() {
        const std::string* text = nextText('c');
        if (text == nullptr) {
            return false;
        }
        const auto character = firstCharacter(*text);
        auto encoded = character ? encodeText(*character, encoding_) : std::nullopt;
        if (!encoded) {
            return cannotEncode(*text);
        }
        appendText(out_, std::move(*encoded), bigEndian_);
        return true;
    }

    std::span<const PackValue> values_;
    TextEncoding encoding_;
    bool bigEndian_;
    Bytes& out_;
    std::size_t next_ = 0;
};

class Unpacker {
  public:
    Unpacker(std::span<const std::uint8_t> data, TextEncoding encoding, bool bigEndian,
             std::vector<PackValue>& out)
        : data_(data), encoding_(encoding), bigEndian_(bigEndian), out_(out) {}

    // False when a text cannot be decoded: unpacking stops with an empty result.
    bool unpackText(std::size_t count) {
        const auto bytes = data_.subspan(loc_, count);
        loc_ += count;
        auto text = decodeText(bytes, encoding_);
        if (!text) {
            programmingError("-- not a string: " + hexlify(bytes));
            return false;
        }
        out_.emplace_back(std::move(*text));
        return true;
    }

    bool unpackOne(char code) {
        switch (code) {
            case 'x':
                ++loc_;
                return true;
            case 'c':
                return unpackCharacter();
            case '?':
                out_.emplace_back(readIntegerType<bool>(data_, loc_, bigEndian_));
                return true;
            case 'b':
                return push<PackInt, std::int8_t>();
            case 'h':
                return push<PackInt, std::int16_t>();
            case 'i':
            case 'l':
                return push<PackInt, std::int32_t>();
            case 'B':
                return push<PackUInt, std::uint8_t>();
            case 'H':
                return push<PackUInt, std::uint16_t>();
            case 'I':
            case 'L':
                return push<PackUInt, std::uint32_t>();
            case 'q':
                return push<PackInt64, std::int64_t>();
            case 'Q':
                return push<PackUInt64, std::uint64_t>();
            case 'f':
                out_.emplace_back(
                    static_cast<double>(readFloatingPointType<float>(data_, loc_, bigEndian_)));
                return true;
            case 'd':
                out_.emplace_back(readFloatingPointType<double>(data_, loc_, bigEndian_));
                return true;
            default:
                throw BinUtilsError::unsupportedFormat(code);
        }
    }

  private:
    template <typename Kind, typename Wire>
    bool push() {
        out_.emplace_back(Kind{readIntegerType<Wire>(data_, loc_, bigEndian_)});
        return true;
    }

    bool unpackCharacter() {
        auto text = decodeText(data_.subspan(loc_, 1), encoding_);
        ++loc_;
        if (!text) {
            programmingError("");
            return false;
        }
        out_.emplace_back(std::move(*text));
        return true;
    }

    std::span<const std::uint8_t> data_;
    TextEncoding encoding_;
    bool bigEndian_;
    std::vector<PackValue>& out_;
    std::size_t loc_ = 0;
};

}  // namespace

BinUtilsError BinUtilsError::formatDoesMatchDataLength(std::string format, std::size_t dataSize) {
    std::string description =
        "format \"" + format + "\" does not match data of " + std::to_string(dataSize) + " bytes";
    return BinUtilsError(FormatDoesMatchDataLength{std::move(format), dataSize},
                         std::move(description));
}

BinUtilsError BinUtilsError::unsupportedFormat(char character) {
    return BinUtilsError(UnsupportedFormat{character},
                         std::string("unsupported format character ") + character);
}

std::size_t numberOfBytesInFormat(std::string_view format) {
    return sizeOfFormat(format, true);
}

bool formatDoesMatchDataLength(std::string_view format, std::size_t dataSize) {
    const std::size_t expected = numberOfBytesInFormat(format);
    if (expected == dataSize) {
        return true;
    }
    diagnostic("format", "\"" + std::string(format) + "\"", "expects", expected,
               "bytes but data is", dataSize, "bytes");
    return false;
}

bool isBigEndianFromMandatoryByteOrderFirstCharacter(std::string_view format) {
    if (format.empty()) {
        programmingError("empty format");
        return false;
    }
    const char first = format.front();
    if (first == '@') {
        programmingError("native size and alignment is unsupported");
    }
    if (first == '=' || first == '<') {
        return false;
    }
    if (first == '>' || first == '!') {
        return true;
    }
    programmingError("format '" + std::string(format) + "' first character must be among '=<>!'");
    return false;
}

Bytes pack(std::string_view format, std::span<const PackValue> values, TextEncoding encoding) {
    Bytes out;
    // Only a hint: a misused format may claim any size.
    constexpr std::size_t reserveLimit = 64 * 1024;
    out.reserve(std::min(sizeOfFormat(format, false), reserveLimit));
    bool bigEndian = false;
    if (!format.empty()) {
        switch (format.front()) {
            case '<':
            case '=':
                break;
            case '>':
            case '!':
                bigEndian = true;
                break;
            case '@':
                programmingError("native size and alignment '@' is unsupported'");
                break;
            default:
                programmingError("unsupported format chacracter'");
                break;
        }
        format.remove_prefix(1);
    }
    Packer packer(values, encoding, bigEndian, out);
    const bool packed = forEachCode(format, [&packer](char code, std::size_t repeat) {
        if (code == 's') {
            return packer.packText(code, repeat);
        }
        for (std::size_t i = 0; i < repeat; ++i) {
            if (!packer.packOne(code)) {
                return false;
            }
        }
        return true;
    });
    if (!packed) {
        return {};
    }
    return out;
}

Bytes pack(std::string_view format, std::initializer_list<PackValue> values,
           TextEncoding encoding) {
    return pack(format, std::span<const PackValue>(values.begin(), values.size()), encoding);
}

std::vector<PackValue> unpack(std::string_view format, std::span<const std::uint8_t> data,
                              TextEncoding encoding) {
    if constexpr (std::endian::native != std::endian::little) {
        programmingError("BinUtils.cpp assumes little endian, but host is big endian");
    }
    const bool bigEndian = isBigEndianFromMandatoryByteOrderFirstCharacter(format);
    if (!formatDoesMatchDataLength(format, data.size())) {
        throw BinUtilsError::formatDoesMatchDataLength(std::string(format), data.size());
    }
    if (!format.empty()) {
        format.remove_prefix(1);
    }
    std::vector<PackValue> values;
    Unpacker unpacker(data, encoding, bigEndian, values);
    const bool unpacked = forEachCode(format, [&unpacker](char code, std::size_t repeat) {
        if (code == 's') {
            return unpacker.unpackText(repeat);
        }
        if (code == ' ') {
            return true;  // takes no bytes, however often repeated
        }
        for (std::size_t i = 0; i < repeat; ++i) {
            if (!unpacker.unpackOne(code)) {
                return false;
            }
        }
        return true;
    });
    if (!unpacked) {
        return {};
    }
    return values;
}

namespace detail {
bool readFitsOrComplain(std::size_t size, std::size_t loc, std::size_t width) {
    if (loc <= size && size - loc >= width) {
        return true;
    }
    programmingError("read of " + std::to_string(width) + " bytes at " + std::to_string(loc) +
                     " passes the end of " + std::to_string(size) + " bytes");
    return false;
}
}  // namespace detail

void appendLittleEndianUInt16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void appendLittleEndianUInt64(Bytes& out, std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

Bytes packLittleEndianUInt16(std::uint16_t value) {
    Bytes out;
    out.reserve(2);
    appendLittleEndianUInt16(out, value);
    return out;
}

Bytes packLittleEndianUInt64(std::uint64_t value) {
    Bytes out;
    out.reserve(8);
    appendLittleEndianUInt64(out, value);
    return out;
}

Bytes packLittleEndianUInt64Pair(std::uint64_t first, std::uint64_t second) {
    Bytes out;
    out.reserve(16);
    appendLittleEndianUInt64(out, first);
    appendLittleEndianUInt64(out, second);
    return out;
}

std::optional<std::uint16_t> unpackLittleEndianUInt16(std::span<const std::uint8_t> data) {
    if (data.size() != 2) {
        return std::nullopt;
    }
    std::size_t loc = 0;
    return readIntegerType<std::uint16_t>(data, loc, false);
}

std::optional<std::uint64_t> unpackLittleEndianUInt64(std::span<const std::uint8_t> data) {
    if (data.size() != 8) {
        return std::nullopt;
    }
    std::size_t loc = 0;
    return readIntegerType<std::uint64_t>(data, loc, false);
}

std::optional<std::pair<std::uint64_t, std::uint64_t>> unpackLittleEndianUInt64Pair(
    std::span<const std::uint8_t> data) {
    if (data.size() != 16) {
        return std::nullopt;
    }
    std::size_t loc = 0;
    const auto first = readIntegerType<std::uint64_t>(data, loc, false);
    return std::pair{first, readIntegerType<std::uint64_t>(data, loc, false)};
}

}  // namespace velto

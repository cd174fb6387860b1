#include "velto/TextEncoding.h"

#include <array>

namespace velto {
namespace {

constexpr char32_t kUnassigned = 0xFFFF;

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC,      kUnassigned, 0x201A, 0x0192, 0x201E, 0x2026,      0x2020, 0x2021,
    0x02C6,      0x2030,      0x0160, 0x2039, 0x0152, kUnassigned, 0x017D, kUnassigned,
    kUnassigned, 0x2018,      0x2019, 0x201C, 0x201D, 0x2022,      0x2013, 0x2014,
    0x02DC,      0x2122,      0x0161, 0x203A, 0x0153, kUnassigned, 0x017E, 0x0178,
};

char32_t windows1252ToUnicode(std::uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kWindows1252High[byte - 0x80u];
    }
    return byte;
}

std::optional<std::uint8_t> unicodeToWindows1252(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<std::uint8_t>(codePoint);
    }
    for (std::size_t i = 0; i < kWindows1252High.size(); ++i) {
        if (kWindows1252High[i] == codePoint && codePoint != kUnassigned) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return std::nullopt;
}

// Length, payload bits of the lead byte, and smallest code point (to refuse overlong forms) of
// a UTF-8 sequence that starts with `lead`.
struct Utf8Sequence {
    std::size_t length;
    char32_t leadBits;
    char32_t minimum;
};

std::optional<Utf8Sequence> sequenceStartingWith(std::uint8_t lead) {
    if (lead < 0x80) {
        return Utf8Sequence{1, lead, 0};
    }
    if ((lead & 0xE0) == 0xC0) {
        return Utf8Sequence{2, lead & 0x1Fu, 0x80};
    }
    if ((lead & 0xF0) == 0xE0) {
        return Utf8Sequence{3, lead & 0x0Fu, 0x800};
    }
    if ((lead & 0xF8) == 0xF0) {
        return Utf8Sequence{4, lead & 0x07u, 0x10000};
    }
    return std::nullopt;
}

// Reads one code point at `pos` and advances it; no value for malformed, overlong or
// surrogate sequences.
template <typename Byte>
std::optional<char32_t> nextCodePoint(std::span<const Byte> text, std::size_t& pos) {
    const auto sequence = sequenceStartingWith(static_cast<std::uint8_t>(text[pos]));
    if (!sequence || text.size() - pos < sequence->length) {
        return std::nullopt;
    }
    const std::size_t length = sequence->length;
    char32_t codePoint = sequence->leadBits;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    if (codePoint < sequence->minimum || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return std::nullopt;
    }
    pos += length;
    return codePoint;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    auto put = [&out](char32_t bits) { out.push_back(static_cast<char>(bits)); };
    if (codePoint < 0x80) {
        put(codePoint);
    } else if (codePoint < 0x800) {
        put(0xC0 | (codePoint >> 6));
        put(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        put(0xE0 | (codePoint >> 12));
        put(0x80 | ((codePoint >> 6) & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    } else {
        put(0xF0 | (codePoint >> 18));
        put(0x80 | ((codePoint >> 12) & 0x3F));
        put(0x80 | ((codePoint >> 6) & 0x3F));
        put(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

std::string_view encodingName(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::windows1252:
            return "Windows-1252";
        case TextEncoding::utf8:
            return "UTF-8";
    }
    return "unknown encoding";
}

std::optional<Bytes> encodeText(std::string_view text, TextEncoding encoding) {
    const std::span<const char> chars(text.data(), text.size());
    Bytes out;
    out.reserve(text.size());
    for (std::size_t pos = 0; pos < chars.size();) {
        const std::size_t start = pos;
        const auto codePoint = nextCodePoint(chars, pos);
        if (!codePoint) {
            return std::nullopt;
        }
        if (encoding == TextEncoding::utf8) {
            out.insert(out.end(), text.begin() + static_cast<std::ptrdiff_t>(start),
                       text.begin() + static_cast<std::ptrdiff_t>(pos));
        } else {
            const auto byte = unicodeToWindows1252(*codePoint);
            if (!byte) {
                return std::nullopt;
            }
            out.push_back(*byte);
        }
    }
    return out;
}

std::optional<std::string> decodeText(std::span<const std::uint8_t> bytes, TextEncoding encoding) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        char32_t codePoint = 0;
        if (encoding == TextEncoding::utf8) {
            const auto decoded = nextCodePoint(bytes, pos);
            if (!decoded) {
                return std::nullopt;
            }
            codePoint = *decoded;
        } else {
            codePoint = windows1252ToUnicode(bytes[pos++]);
            if (codePoint == kUnassigned) {
                return std::nullopt;
            }
        }
        appendUtf8(out, codePoint);
    }
    return out;
}

}  // namespace velto

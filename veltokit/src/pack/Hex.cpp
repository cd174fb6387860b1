#include <cctype>

#include "velto/BinUtils.h"
#include "velto/Diagnostics.h"

namespace velto {
namespace {

constexpr std::string_view kDigits = "0123456789abcdef";

int hexDigitValue(char upper) {
    if (upper >= '0' && upper <= '9') {
        return upper - '0';
    }
    if (upper >= 'A' && upper <= 'F') {
        return upper - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string hexlify(std::span<const std::uint8_t> data) {
    std::string text;
    text.reserve(data.size() * 2);
    for (const std::uint8_t byte : data) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

// An odd digit count is refused rather than guessed at: a lone last digit could mean 0x0N or
// 0xN0, and either guess would hand back bytes the text never described.
std::optional<Bytes> unhexlify(std::string_view text) {
    std::string digits;
    digits.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ' ') {
            continue;
        }
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
        if (hexDigitValue(upper) < 0) {
            diagnostic("-- found non hex character at range", i);
            return std::nullopt;
        }
        digits.push_back(upper);
    }
    if (digits.size() % 2 != 0) {
        diagnostic("-- odd number of hex digits:", digits.size());
        return std::nullopt;
    }
    Bytes bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(hexDigitValue(digits[i]) * 16 +
                                                  hexDigitValue(digits[i + 1])));
    }
    return bytes;
}

}  // namespace velto

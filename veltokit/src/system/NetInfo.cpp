#include "velto/NetInfo.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace velto {
namespace {

using Octets = std::vector<std::uint8_t>;

std::optional<std::uint8_t> octetFromDecimal(std::string_view piece) {
    if (piece.size() > 3) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : piece) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

std::optional<Octets> toInts(std::string_view text) {
    Octets octets;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto dot = std::min(text.find('.', start), text.size());
        const auto piece = text.substr(start, dot - start);
        if (!piece.empty()) {
            const auto octet = octetFromDecimal(piece);
            if (!octet) {
                return std::nullopt;
            }
            octets.push_back(*octet);
        }
        start = dot + 1;
    }
    return octets;
}

std::string toText(const Octets& octets) {
    std::string text;
    for (std::size_t i = 0; i < octets.size(); ++i) {
        if (i > 0) {
            text.push_back('.');
        }
        text += std::to_string(octets[i]);
    }
    return text;
}

// The result has as many parts as `first`; `second` must have at least as many.
std::string bitwise(const std::function<std::uint8_t(std::uint8_t, std::uint8_t)>& op,
                    std::string_view first, std::string_view second) {
    const auto a = toInts(first);
    const auto b = toInts(second);
    if (!a || !b || b->size() < a->size()) {
        return {};
    }
    Octets result(a->size());
    for (std::size_t i = 0; i < a->size(); ++i) {
        result[i] = op((*a)[i], (*b)[i]);
    }
    return toText(result);
}

std::string inverted(std::string_view mask) {
    auto octets = toInts(mask);
    if (!octets) {
        return {};
    }
    for (auto& octet : *octets) {
        octet = static_cast<std::uint8_t>(~octet);
    }
    return toText(*octets);
}

}  // namespace

std::string NetInfo::network() const {
    return bitwise([](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a & b); },
                   ip_, netmask_);
}

std::string NetInfo::broadcast() const {
    const std::string net = network();
    if (net.empty()) {
        return {};
    }
    return bitwise([](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a | b); },
                   net, inverted(netmask_));
}

}  // namespace velto

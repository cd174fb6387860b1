#include "incoming/ElementName.h"

#include <cstdint>

namespace velto {
namespace {

// Length of the well-formed UTF-8 sequence at the start of text, or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t sequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

}  // namespace

bool ElementName::isValidUtf8(std::string_view text) {
    while (!text.empty()) {
        const std::size_t length = sequenceLength(text);
        if (length == 0) {
            return false;
        }
        text.remove_prefix(length);
    }
    return true;
}

std::string ElementName::withValidUtf8(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = sequenceLength(text);
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            text.remove_prefix(1);
        } else {
            result.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
    return result;
}

std::optional<std::string> ElementName::relativePath(std::string_view name, std::string& reason) {
    if (name.size() > maxLength) {
        reason = "an element name is longer than " + std::to_string(maxLength) + " bytes";
        return std::nullopt;
    }
    if (!isValidUtf8(name)) {
        reason = "an element name is not UTF-8";
        return std::nullopt;
    }
    std::string path;
    while (!name.empty()) {
        const auto slash = name.find('/');
        const std::string_view component = name.substr(0, slash);
        name.remove_prefix(slash == std::string_view::npos ? name.size() : slash + 1);
        if (component.empty() || component == "." || component == "..") {
            continue;
        }
        if (!path.empty()) {
            path.push_back('/');
        }
        path.append(component);
    }
    if (path.empty()) {
        reason = "an element name names no file";
        return std::nullopt;
    }
    return path;
}

}  // namespace velto

#pragma once
// TEMPORARY: stand-ins for the shared path, random, packing and Downloads helpers that are
// being written on another branch. Removed as soon as those land; nothing new may use them.

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "velto/Bytes.h"

namespace velto::temporary {

inline std::string stringByAppendingPathComponent(const std::string& path,
                                                  const std::string& component) {
    std::string joined = path.empty() ? component : path + "/" + component;
    std::string result;
    for (char c : joined) {
        if (c == '/' && !result.empty() && result.back() == '/') {
            continue;
        }
        result.push_back(c);
    }
    if (result.size() > 1 && result.back() == '/') {
        result.pop_back();
    }
    return result;
}

inline std::string stringByDeletingLastPathComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

inline std::string sanitizedString(const std::string& text) {
    std::string result;
    for (char c : text) {
        if (std::string_view("/\\:*<>?%|").find(c) == std::string_view::npos) {
            result.push_back(c);
        }
    }
    return result;
}

inline std::string generateRandomStringWithLength(int length) {
    static const std::string alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text;
    for (int i = 0; i < length; ++i) {
        text.push_back(alphabet[pick(engine)]);
    }
    return text;
}

inline void appendLittleEndian64(Bytes& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline std::uint64_t readLittleEndian64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

inline std::string downloadsFolder() {
    const char* home = std::getenv("HOME");
    std::string base = home != nullptr ? home : "";
    if (base.empty()) {
        if (const passwd* entry = getpwuid(getuid())) {
            base = entry->pw_dir;
        }
    }
    const std::string path = base + "/Downloads";
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    return path;
}

}  // namespace velto::temporary

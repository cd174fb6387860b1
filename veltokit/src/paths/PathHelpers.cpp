#include "velto/PathHelpers.h"

#include "velto/BinUtils.h"

namespace velto {
namespace {

// Collapses runs of "/" and drops a trailing "/" unless the whole path is "/".
std::string normalizedSeparators(std::string_view path) {
    if (path.find("//") == std::string_view::npos && (path.size() <= 1 || path.back() != '/')) {
        return std::string(path);  // the common case: nothing to fold
    }
    std::string out;
    out.reserve(path.size());
    for (const char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') {
            continue;
        }
        out.push_back(c);
    }
    if (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

}  // namespace

std::string hexEncodedString(const Bytes& bytes) {
    return hexlify(bytes);
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component) {
    std::string joined(path);
    if (!joined.empty()) {
        joined.push_back('/');
    }
    joined.append(component);
    return normalizedSeparators(joined);
}

std::string stringByDeletingLastPathComponent(std::string_view path) {
    const std::string normalized = normalizedSeparators(path);
    const auto separator = normalized.rfind('/');
    if (separator == std::string::npos) {
        return {};
    }
    if (separator == 0) {
        return "/";
    }
    return normalized.substr(0, separator);
}

std::string fromPathComponents(const std::vector<std::string>& components) {
    std::string path;
    for (const auto& component : components) {
        path = stringByAppendingPathComponent(path, component);
    }
    return path;
}

std::string sanitizedString(std::string_view text) {
    constexpr std::string_view kRemoved = "/\\:*<>?%|";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (kRemoved.find(c) == std::string_view::npos) {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace velto

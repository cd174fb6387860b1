#include "incoming/ElementName.h"

#include "core/Utf8.h"

namespace velto {

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

#include "system/ShellAssignments.h"

#include "system/FileContents.h"

namespace velto {
namespace {

constexpr std::size_t kMaxSettingsFile = 1 << 20;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The value that starts at `text` (right after "NAME="), or no value when a quote is left open.
std::optional<std::string> parseValue(std::string_view text) {
    std::string value;
    std::size_t i = 0;
    while (i < text.size() && !isBlank(text[i])) {
        const char c = text[i++];
        if (c == '\\') {
            if (i < text.size()) {
                value.push_back(text[i++]);
            }
        } else if (c == '\'') {
            const auto close = text.find('\'', i);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            value.append(text.substr(i, close - i));
            i = close + 1;
        } else if (c == '"') {
            for (;; ++i) {
                if (i >= text.size()) {
                    return std::nullopt;
                }
                if (text[i] == '"') {
                    ++i;
                    break;
                }
                if (text[i] == '\\' && i + 1 < text.size() &&
                    std::string_view("$`\"\\").find(text[i + 1]) != std::string_view::npos) {
                    ++i;
                }
                value.push_back(text[i]);
            }
        } else {
            value.push_back(c);
        }
    }
    return value;
}

}  // namespace

std::optional<std::string> ShellAssignments::valueOf(std::string_view contents,
                                                     std::string_view name) {
    std::optional<std::string> found;
    while (!contents.empty()) {
        const auto end = std::min(contents.find('\n'), contents.size());
        std::string_view line = contents.substr(0, end);
        contents.remove_prefix(std::min(end + 1, contents.size()));

        while (!line.empty() && isBlank(line.front())) {
            line.remove_prefix(1);
        }
        if (line.starts_with("export ")) {
            line.remove_prefix(7);
        }
        if (line.size() > name.size() && line.starts_with(name) && line[name.size()] == '=') {
            if (auto value = parseValue(line.substr(name.size() + 1))) {
                found = std::move(value);
            }
        }
    }
    return found;
}

std::optional<std::string> ShellAssignments::valueInFile(const std::string& path,
                                                         std::string_view name) {
    const auto contents = readFileContents(path, kMaxSettingsFile);
    if (!contents) {
        return std::nullopt;
    }
    return valueOf(textOf(*contents), name);
}

}  // namespace velto

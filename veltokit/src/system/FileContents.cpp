#include "system/FileContents.h"

#include <fstream>

namespace velto {

std::optional<Bytes> readFileContents(const std::string& path, std::size_t maxBytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    Bytes contents;
    char buffer[16384];
    while (file) {
        file.read(buffer, sizeof buffer);
        const auto got = static_cast<std::size_t>(file.gcount());
        if (contents.size() + got > maxBytes) {
            return std::nullopt;
        }
        contents.insert(contents.end(), buffer, buffer + got);
    }
    if (file.bad()) {
        return std::nullopt;
    }
    return contents;
}

}  // namespace velto

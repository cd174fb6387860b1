#include "support/FileTree.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "velto/BinUtils.h"

namespace velto::test {

void writeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string content(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    return content;
}

std::map<std::string, std::string> treeOf(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string relative = std::filesystem::relative(entry.path(), root).string();
        tree[relative] = entry.is_directory() ? "/" : readFile(entry.path().string());
    }
    return tree;
}

Bytes streamHeader(std::uint64_t count, std::uint64_t total) {
    return packLittleEndianUInt64Pair(count, total);
}

Bytes element(const std::string& name, std::uint64_t size, const std::string& body) {
    Bytes bytes(name.begin(), name.end());
    bytes.push_back(0);
    appendLittleEndianUInt64(bytes, size);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

Bytes folderElement(const std::string& name) {
    return element(name, 0xFFFFFFFFFFFFFFFFull);
}

Bytes operator+(Bytes left, const Bytes& right) {
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

}  // namespace velto::test

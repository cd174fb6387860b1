#include "support/SampleTree.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/FileTree.h"

namespace velto::bench {
namespace {

std::string folderName(std::size_t folder) {
    char name[64];
    std::snprintf(name, sizeof name, "tree/d%02zu", folder);
    return name;
}

std::string fileName(std::size_t folder, std::size_t file) {
    char name[64];
    std::snprintf(name, sizeof name, "tree/d%02zu/f%05zu.bin", folder, file);
    return name;
}

std::string body(std::size_t size, std::size_t seed) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('a' + (i + seed) % 26);
    }
    return text;
}

}  // namespace

std::string writeSampleTree(const std::string& parent, const TreeShape& shape) {
    const std::filesystem::path root = std::filesystem::path(parent) / "tree";
    for (std::size_t d = 0; d < shape.folders; ++d) {
        std::filesystem::create_directories(std::filesystem::path(parent) / folderName(d));
    }
    // File f sits in folder f % folders, so that every folder gets its share.
    for (std::size_t f = 0; f < shape.files; ++f) {
        test::writeFile((std::filesystem::path(parent) / fileName(f % shape.folders, f)).string(),
                        body(shape.fileSize, f));
    }
    return root.string();
}

Bytes sampleTreeStream(const TreeShape& shape) {
    Bytes stream = test::streamHeader(shape.elementCount(), shape.totalSize());
    const auto append = [&stream](const Bytes& part) {
        stream.insert(stream.end(), part.begin(), part.end());
    };
    append(test::folderElement("tree"));
    for (std::size_t d = 0; d < shape.folders; ++d) {
        append(test::folderElement(folderName(d)));
        for (std::size_t f = d; f < shape.files; f += shape.folders) {
            append(test::element(fileName(d, f), shape.fileSize, body(shape.fileSize, f)));
        }
    }
    return stream;
}

std::string writeSampleFile(const std::string& parent, const std::string& name,
                            std::uint64_t size) {
    const std::string path = (std::filesystem::path(parent) / name).string();
    std::ofstream out(path, std::ios::binary);
    const std::string block = body(1 << 20, 0);
    for (std::uint64_t left = size; left > 0;) {
        const auto piece =
            static_cast<std::streamsize>(std::min<std::uint64_t>(left, block.size()));
        out.write(block.data(), piece);
        left -= static_cast<std::uint64_t>(piece);
    }
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

}  // namespace velto::bench

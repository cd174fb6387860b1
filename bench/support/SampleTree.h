#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "velto/Bytes.h"

namespace velto::bench {

// The benchmarks' standard tree: `files` files of `fileSize` bytes spread over `folders`
// folders under one top folder "tree" (tree/dNN/fNNNN.bin).
struct TreeShape {
    std::size_t files;
    std::size_t folders;
    std::size_t fileSize;

    std::uint64_t elementCount() const { return 1 + folders + files; }
    std::uint64_t totalSize() const { return std::uint64_t{files} * fileSize; }
};

// Writes the tree into parent; returns the path of its top folder.
std::string writeSampleTree(const std::string& parent, const TreeShape& shape);
// The same tree as a sender puts it on the wire, stream header first.
Bytes sampleTreeStream(const TreeShape& shape);
// Writes one file of size bytes (a repeating pattern) and returns its path.
std::string writeSampleFile(const std::string& parent, const std::string& name, std::uint64_t size);

}  // namespace velto::bench

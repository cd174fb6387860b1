#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velto {

// A contiguous byte buffer: datagrams, headers, chunks.
using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace velto

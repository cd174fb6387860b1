#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "velto/Bytes.h"

namespace velto {

// Whole small files (settings, pictures). No value when the file cannot be read or is larger
// than `maxBytes`.
std::optional<Bytes> readFileContents(const std::string& path, std::size_t maxBytes);

}  // namespace velto

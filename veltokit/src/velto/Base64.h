#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velto {

// Base64 with the standard alphabet and "=" padding, on one line (as data URLs want it).
class Base64 {
  public:
    static std::string encode(std::span<const std::uint8_t> data);
};

}  // namespace velto

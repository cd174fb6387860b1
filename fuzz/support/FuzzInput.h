#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "velto/Bytes.h"
#include "velto/Diagnostics.h"

namespace velto::fuzz {

// The fuzzer's bytes, taken from the front a piece at a time. Reads past the end give zeros
// and empty pieces, so every input is a valid script.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return offset_ == size_; }
    std::size_t remaining() const { return size_ - offset_; }

    std::uint8_t byte() { return empty() ? 0 : data_[offset_++]; }

    Bytes bytes(std::size_t count) {
        count = std::min(count, remaining());
        Bytes out(data_ + offset_, data_ + offset_ + count);
        offset_ += count;
        return out;
    }

    Bytes rest() { return bytes(remaining()); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

// Diagnostic lines are still formatted (that code runs too) but go nowhere.
inline void silenceDiagnostics() {
    setDiagnosticSink([](std::string_view) {});
}

// A broken promise of the code under test: say which and stop, so that the fuzzer keeps the
// input that led here.
[[noreturn]] inline void violated(std::string_view what) {
    std::fprintf(stderr, "violated: %.*s\n", static_cast<int>(what.size()), what.data());
    std::abort();
}

inline void require(bool condition, std::string_view what) {
    if (!condition) {
        violated(what);
    }
}

}  // namespace velto::fuzz

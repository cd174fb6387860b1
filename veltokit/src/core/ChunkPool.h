#pragma once

#include <cstddef>

#include "velto/Bytes.h"

namespace velto {

// Keeps the large buffers of file bodies for the next chunk. A fresh 10 MiB vector is filled
// with zeros and then faulted in page by page before a byte of the file lands in it; a
// recycled one is neither. Small buffers are not worth it and come and go as usual.
// Any thread.
class ChunkPool {
  public:
    static constexpr std::size_t minPooledSize = 256 * 1024;
    static constexpr std::size_t maxPooledBuffers = 4;

    // A buffer of exactly size bytes; a recycled one still holds old bytes.
    static Bytes take(std::size_t size);
    // Offers a buffer for reuse; one too small, or one too many, is freed.
    static void give(Bytes&& buffer);
    // Buffers waiting for reuse (for tests).
    static std::size_t pooledCount();
};

}  // namespace velto

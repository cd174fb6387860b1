#pragma once

#include <boost/asio/buffer.hpp>
#include <cstddef>
#include <cstdint>

#include "velto/Bytes.h"

namespace velto {

// Bytes taken from the kernel ahead of the reads that will want them, so that many small reads
// cost one system call between them. The storage is allocated on first use.
class ReceiveBuffer {
  public:
    explicit ReceiveBuffer(std::size_t capacity) : capacity_(capacity) {}

    std::size_t capacity() const { return capacity_; }
    std::size_t size() const { return end_ - begin_; }
    bool empty() const { return begin_ == end_; }
    const std::uint8_t* data() const { return storage_.data() + begin_; }

    void consume(std::size_t count);
    // Room after the bytes held, which are first moved to the front.
    boost::asio::mutable_buffer freeSpace();
    void commit(std::size_t count);
    void clear();

  private:
    std::size_t capacity_;
    Bytes storage_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace velto

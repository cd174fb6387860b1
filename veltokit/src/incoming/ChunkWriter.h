#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"

namespace velto {

// Writes the chunks of a large received file on a thread of its own, so that the connection is
// read while the disk works. Chunks are written in the order handed over, and each one's
// outcome is reported on the transfer's queue.
//
// The transfer keeps the file open, and touches neither it nor the chunk, from the hand-over
// until the outcome arrives.
class ChunkWriter {
  public:
    using WriteChunk = std::function<bool(const Bytes& chunk, std::string& error)>;
    using Done = std::function<void(bool written, const std::string& error)>;

    explicit ChunkWriter(std::shared_ptr<DispatchQueue> transferQueue);
    // Chunks not yet begun are dropped without an outcome; one being written is waited for.
    ~ChunkWriter();

    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    void write(Bytes chunk, WriteChunk writeChunk, Done done);

  private:
    std::shared_ptr<DispatchQueue> transferQueue_;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    DispatchQueue thread_{"file writing"};
};

}  // namespace velto

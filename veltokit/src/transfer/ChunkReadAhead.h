#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"
#include "velto/VeltoItem.h"

namespace velto {

// Reads the next body chunk of an element on a thread of its own while the transfer writes the
// current one, so that the socket need not wait for the disk. It holds at most one chunk, so a
// transfer holds at most two: the one being written and the one read ahead.
//
// Used from the transfer's queue only. The item is touched by the reading thread from start()
// until `ready` runs on the transfer's queue, and by nobody else meanwhile.
class ChunkReadAhead {
  public:
    explicit ChunkReadAhead(std::shared_ptr<DispatchQueue> transferQueue);
    ~ChunkReadAhead();  // waits for a read under way; a chunk that comes later is dropped

    ChunkReadAhead(const ChunkReadAhead&) = delete;
    ChunkReadAhead& operator=(const ChunkReadAhead&) = delete;

    // Reads item's next chunk; ready then runs on the transfer's queue (unless this reader
    // is gone by then).
    void start(std::shared_ptr<VeltoItem> item, std::function<void()> ready);
    bool reading() const;
    // The chunk read ahead, once ready has run; nothing when none is held.
    std::optional<Bytes> take();

  private:
    struct Shared;

    std::shared_ptr<DispatchQueue> transferQueue_;
    std::shared_ptr<Shared> shared_;  // with the reading thread's work
    std::unique_ptr<DispatchQueue> thread_;
};

}  // namespace velto

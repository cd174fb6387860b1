#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"
#include "velto/VeltoItem.h"

namespace velto {

// Reads body chunks on a thread of its own while the transfer writes, so that the socket need
// not wait for the disk: the next chunk of a large file, or the bodies of the next many small
// elements at once, a queue hop per batch rather than per file. The transfer keeps what is held
// small: at most one chunk of a large file, or a few hundred KiB of small bodies.
//
// Used from the transfer's queue only. The items are touched by the reading thread from start()
// until `ready` runs on the transfer's queue, and by nobody else meanwhile.
class ChunkReadAhead {
  public:
    explicit ChunkReadAhead(std::shared_ptr<DispatchQueue> transferQueue);
    ~ChunkReadAhead();  // waits for a read under way; a chunk that comes later is dropped

    ChunkReadAhead(const ChunkReadAhead&) = delete;
    ChunkReadAhead& operator=(const ChunkReadAhead&) = delete;

    // Reads the next chunk of each item in turn; ready then runs on the transfer's queue (unless
    // this reader is gone by then). Not while reading().
    void start(std::vector<std::shared_ptr<VeltoItem>> items, std::function<void()> ready);
    bool reading() const;
    // The oldest chunk read and not yet taken; nothing when none is held.
    std::optional<Bytes> take();

  private:
    struct Shared;

    std::shared_ptr<DispatchQueue> transferQueue_;
    std::shared_ptr<Shared> shared_;  // with the reading thread's work
    std::unique_ptr<DispatchQueue> thread_;
};

}  // namespace velto

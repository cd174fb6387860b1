#include "transfer/ChunkReadAhead.h"

#include <atomic>
#include <utility>

#include "core/ChunkPool.h"

namespace velto {

// What the reading thread hands back. The chunk is written on the reading thread before its
// result is posted and read on the transfer's queue after, so the post orders the two.
struct ChunkReadAhead::Shared {
    std::optional<Bytes> chunk;
    bool reading = false;
    std::atomic<bool> alive{true};  // the owner may let go on another thread
};

ChunkReadAhead::ChunkReadAhead(std::shared_ptr<DispatchQueue> transferQueue)
    : transferQueue_(std::move(transferQueue)), shared_(std::make_shared<Shared>()) {}

ChunkReadAhead::~ChunkReadAhead() {
    shared_->alive = false;
    thread_.reset();  // joins: a read under way ends first
}

void ChunkReadAhead::start(std::shared_ptr<VeltoItem> item, std::function<void()> ready) {
    if (!thread_) {
        thread_ = std::make_unique<DispatchQueue>("file reading");
    }
    shared_->reading = true;
    thread_->async([item = std::move(item), ready = std::move(ready), queue = transferQueue_,
                    shared = shared_]() mutable {
        Bytes chunk = item->nextChunk();
        queue->async([chunk = std::move(chunk), ready = std::move(ready),
                      shared = std::move(shared)]() mutable {
            if (!shared->alive) {
                ChunkPool::give(std::move(chunk));
                return;
            }
            shared->chunk = std::move(chunk);
            shared->reading = false;
            ready();
        });
    });
}

bool ChunkReadAhead::reading() const {
    return shared_->reading;
}

std::optional<Bytes> ChunkReadAhead::take() {
    return std::exchange(shared_->chunk, std::nullopt);
}

}  // namespace velto

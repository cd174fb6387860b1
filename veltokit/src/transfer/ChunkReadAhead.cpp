#include "transfer/ChunkReadAhead.h"

#include <atomic>
#include <deque>
#include <utility>

#include "core/ChunkPool.h"

namespace velto {

// What the reading thread hands back. Chunks are read on the reading thread, posted and kept
// here on the transfer's queue, so the post orders the two.
struct ChunkReadAhead::Shared {
    std::deque<Bytes> chunks;
    bool reading = false;
    std::atomic<bool> alive{true};  // the owner may let go on another thread
};

ChunkReadAhead::ChunkReadAhead(std::shared_ptr<DispatchQueue> transferQueue)
    : transferQueue_(std::move(transferQueue)), shared_(std::make_shared<Shared>()) {}

ChunkReadAhead::~ChunkReadAhead() {
    shared_->alive = false;
    thread_.reset();  // joins: a read under way ends first
}

void ChunkReadAhead::start(std::vector<std::shared_ptr<VeltoItem>> items,
                           std::function<void()> ready) {
    if (!thread_) {
        thread_ = std::make_unique<DispatchQueue>("file reading");
    }
    shared_->reading = true;
    thread_->async([items = std::move(items), ready = std::move(ready), queue = transferQueue_,
                    shared = shared_]() mutable {
        std::vector<Bytes> chunks;
        chunks.reserve(items.size());
        for (const auto& item : items) {
            chunks.push_back(item->nextChunk());
        }
        queue->async([chunks = std::move(chunks), ready = std::move(ready),
                      shared = std::move(shared)]() mutable {
            if (!shared->alive) {
                for (Bytes& chunk : chunks) {
                    ChunkPool::give(std::move(chunk));
                }
                return;
            }
            for (Bytes& chunk : chunks) {
                shared->chunks.push_back(std::move(chunk));
            }
            shared->reading = false;
            ready();
        });
    });
}

bool ChunkReadAhead::reading() const {
    return shared_->reading;
}

std::optional<Bytes> ChunkReadAhead::take() {
    if (shared_->chunks.empty()) {
        return std::nullopt;
    }
    Bytes chunk = std::move(shared_->chunks.front());
    shared_->chunks.pop_front();
    return chunk;
}

}  // namespace velto

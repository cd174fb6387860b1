#include "incoming/ChunkWriter.h"

#include "core/ChunkPool.h"

namespace velto {

ChunkWriter::ChunkWriter(std::shared_ptr<DispatchQueue> transferQueue)
    : transferQueue_(std::move(transferQueue)) {}

ChunkWriter::~ChunkWriter() {
    cancelled_->store(true);
    // thread_ goes next, joining a write under way.
}

void ChunkWriter::write(Bytes chunk, WriteChunk writeChunk, Done done) {
    thread_.async([chunk = std::move(chunk), writeChunk = std::move(writeChunk),
                   done = std::move(done), queue = transferQueue_,
                   cancelled = cancelled_]() mutable {
        if (cancelled->load()) {
            return;
        }
        std::string error;
        const bool written = writeChunk(chunk, error);
        ChunkPool::give(std::move(chunk));
        queue->async(
            [done = std::move(done), written, error = std::move(error)] { done(written, error); });
    });
}

}  // namespace velto

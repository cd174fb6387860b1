#include "core/ChunkPool.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace velto {
namespace {

struct Pool {
    std::mutex mutex;
    std::vector<Bytes> buffers;
};

Pool& pool() {
    static Pool instance;
    return instance;
}

}  // namespace

Bytes ChunkPool::take(std::size_t size) {
    if (size < minPooledSize) {
        return Bytes(size);
    }
    Bytes buffer;
    {
        Pool& p = pool();
        std::lock_guard lock(p.mutex);
        // Best is the smallest one already long enough; else the roomiest, since growing
        // zero-fills only the part added.
        const auto better = [size](const Bytes& candidate, const Bytes& best) {
            const bool candidateFits = candidate.size() >= size;
            const bool bestFits = best.size() >= size;
            if (candidateFits != bestFits) {
                return candidateFits;
            }
            return candidateFits ? candidate.size() < best.size()
                                 : candidate.capacity() > best.capacity();
        };
        auto best = p.buffers.end();
        for (auto it = p.buffers.begin(); it != p.buffers.end(); ++it) {
            if (best == p.buffers.end() || better(*it, *best)) {
                best = it;
            }
        }
        if (best != p.buffers.end()) {
            buffer = std::move(*best);
            p.buffers.erase(best);
        }
    }
    buffer.resize(size);
    return buffer;
}

void ChunkPool::give(Bytes&& buffer) {
    if (buffer.size() < minPooledSize) {
        return;
    }
    Pool& p = pool();
    Bytes dropped;
    std::lock_guard lock(p.mutex);
    if (p.buffers.size() < maxPooledBuffers) {
        p.buffers.push_back(std::move(buffer));
    } else {
        // Keep the larger ones; the one let go is freed after the lock.
        auto smallest =
            std::min_element(p.buffers.begin(), p.buffers.end(),
                             [](const Bytes& a, const Bytes& b) { return a.size() < b.size(); });
        if (smallest->size() < buffer.size()) {
            dropped = std::exchange(*smallest, std::move(buffer));
        } else {
            dropped = std::move(buffer);
        }
    }
}

std::size_t ChunkPool::pooledCount() {
    Pool& p = pool();
    std::lock_guard lock(p.mutex);
    return p.buffers.size();
}

}  // namespace velto

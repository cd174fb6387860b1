#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/ChunkPool.h"

namespace velto {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

TEST(ChunkPoolTest, LargeBuffersComeBackForTheNextChunkAndThePoolStaysSmall) {
    // Sizes above one chunk: buffers that other tests left in the pool are all smaller.
    Bytes first = ChunkPool::take(10 * kMiB + 200);
    ASSERT_EQ(first.size(), 10 * kMiB + 200);
    const std::uint8_t* storage = first.data();
    ChunkPool::give(std::move(first));
    Bytes again = ChunkPool::take(10 * kMiB + 100);  // a shorter one reuses it too
    EXPECT_EQ(again.data(), storage);
    EXPECT_EQ(again.size(), 10 * kMiB + 100);
    ChunkPool::give(std::move(again));

    Bytes small = ChunkPool::take(100);
    EXPECT_EQ(small, Bytes(100, 0));  // small ones are fresh, as a plain vector would be
    ChunkPool::give(std::move(small));

    // Transfers on several threads take and give at once; the pool keeps only a few.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 50; ++i) {
                Bytes a = ChunkPool::take(kMiB);
                Bytes b = ChunkPool::take(2 * kMiB);
                a[kMiB - 1] = 1;
                b[0] = 2;
                ChunkPool::give(std::move(a));
                ChunkPool::give(std::move(b));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_LE(ChunkPool::pooledCount(), ChunkPool::maxPooledBuffers);
    EXPECT_GT(ChunkPool::pooledCount(), 0u);
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "velto/DispatchQueue.h"

namespace velto {
namespace {

TEST(DispatchQueue, RunsWorkInOrderOnItsOwnThread) {
    DispatchQueue queue("test");
    std::vector<int> seen;
    bool onQueue = true;
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            onQueue = onQueue && queue.isCurrent();
            seen.push_back(i);
        });
    }
    queue.sync([] {});
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
    }
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(DispatchQueue, SyncFromInsideTheQueueRunsAtOnce) {
    DispatchQueue queue("test");
    int value = 0;
    queue.sync([&] { queue.sync([&] { value = 7; }); });
    EXPECT_EQ(value, 7);
}

TEST(DispatchQueue, CanBeReleasedFromItsOwnThread) {
    auto queue = DispatchQueue::create("test");
    std::atomic<bool> ran{false};
    auto* raw = queue.get();
    raw->async([&ran, q = std::move(queue)]() mutable {
        ran = true;
        q.reset();  // last owner goes away inside the queue
    });
    for (int i = 0; i < 20000 && !ran; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace velto

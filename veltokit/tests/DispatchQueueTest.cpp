#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "velto/DispatchQueue.h"

namespace velto {
namespace {

TEST(DispatchQueue, RunsWorkInOrderOnItsOwnThreadAndSyncsFromInside) {
    DispatchQueue queue("test");
    std::vector<int> seen, expected;
    bool onQueue = true;
    for (int i = 0; i < 100; ++i) {
        expected.push_back(i);
        queue.async([&, i] {
            onQueue = onQueue && queue.isCurrent();
            seen.push_back(i);
        });
    }
    queue.sync([&] { queue.sync([&] { seen.push_back(100); }); });  // no deadlock from inside
    expected.push_back(100);
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(DispatchQueue, CanBeReleasedFromItsOwnThread) {
    auto queue = DispatchQueue::create("test");
    std::atomic<bool> ran{false};
    auto* raw = queue.get();
    raw->async([&ran, q = std::move(queue)]() mutable {
        q.reset();   // last owner goes away inside the queue
        ran = true;  // only now: a release that hangs or aborts must fail the test
    });
    for (int i = 0; i < 20000 && !ran; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace velto

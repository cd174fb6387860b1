#pragma once

#include <boost/asio/post.hpp>
#include <memory>
#include <utility>

#include "core/DispatchQueueContext.h"

namespace velto {

// Every socket object handed to callers is a front for a core that does the work on the queue's
// thread. The front owns the core; the core knows the front only weakly, to name it in reports.

// Makes a core and its front, and introduces them.
template <typename Front, typename Core, typename Delegate>
std::shared_ptr<Front> makeFront(std::weak_ptr<Delegate> delegate,
                                 std::shared_ptr<DispatchQueue> queue) {
    auto core = std::make_shared<Core>(queue, std::move(delegate));
    auto front = std::make_shared<Front>(core, std::move(queue));
    core->attach(front);
    return front;
}

// Runs task(core) on the queue's thread: at once when already there, otherwise posted. The
// posted task keeps the core alive until it has run.
template <typename Core, typename Task>
void runOnQueue(DispatchQueue& queue, const std::shared_ptr<Core>& core, Task&& task) {
    if (queue.isCurrent()) {
        task(*core);
        return;
    }
    boost::asio::post(ioContextOf(queue),
                      [core, task = std::forward<Task>(task)]() mutable { task(*core); });
}

}  // namespace velto

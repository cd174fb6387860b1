#pragma once

#include <boost/asio/post.hpp>
#include <memory>
#include <utility>

#include "velto/DispatchQueue.h"

namespace velto {

// Runs task(core) on the queue's thread: at once when already there, otherwise posted. The
// posted task keeps the core alive until it has run.
template <typename Core, typename Task>
void runOnQueue(DispatchQueue& queue, const std::shared_ptr<Core>& core, Task&& task) {
    if (queue.isCurrent()) {
        task(*core);
        return;
    }
    boost::asio::post(queue.context(),
                      [core, task = std::forward<Task>(task)]() mutable { task(*core); });
}

}  // namespace velto

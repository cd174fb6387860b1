#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "velto/Export.h"

namespace velto {

// A serial queue: one thread running an event loop kept alive until the queue goes. Sockets and
// timers made on the queue's event loop call back on that thread, one at a time.
class VELTO_EXPORT DispatchQueue {
  public:
    explicit DispatchQueue(std::string label);
    ~DispatchQueue();  // stops the context and joins the thread; pending work is dropped

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    static std::shared_ptr<DispatchQueue> create(std::string label) {
        return std::make_shared<DispatchQueue>(std::move(label));
    }

    const std::string& label() const { return label_; }

    // Runs work later on the queue's thread.
    void async(std::function<void()> work);
    // Runs work on the queue's thread and waits for it; runs it at once when called from the
    // queue's own thread.
    void sync(const std::function<void()>& work);
    bool isCurrent() const;

  private:
    friend class DispatchQueueContext;  // the library's own sockets reach the event loop
    // Shared with the thread, so that a queue released from its own thread stays valid until
    // the running handler returns.
    struct State;

    std::string label_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace velto

#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace velto {

// A serial queue: one thread running an io_context kept alive by a work guard. Sockets and
// timers made on the queue's context call back on that thread, one at a time.
class DispatchQueue {
  public:
    explicit DispatchQueue(std::string label);
    ~DispatchQueue();  // stops the context and joins the thread; pending work is dropped

    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    static std::shared_ptr<DispatchQueue> create(std::string label) {
        return std::make_shared<DispatchQueue>(std::move(label));
    }

    const std::string& label() const { return label_; }
    boost::asio::io_context& context() { return state_->context; }

    // Runs work later on the queue's thread.
    void async(std::function<void()> work);
    // Runs work on the queue's thread and waits for it; runs it at once when called from the
    // queue's own thread.
    void sync(const std::function<void()>& work);
    bool isCurrent() const;

  private:
    // Shared with the thread, so that a queue released from its own thread stays valid until
    // the running handler returns.
    struct State {
        boost::asio::io_context context;
        boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard{
            context.get_executor()};
    };

    std::string label_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace velto

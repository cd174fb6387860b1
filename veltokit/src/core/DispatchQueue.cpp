#include "velto/DispatchQueue.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <future>

#include <pthread.h>
#include <signal.h>

#include "core/DispatchQueueContext.h"

namespace velto {

struct DispatchQueue::State {
    boost::asio::io_context context;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard{
        context.get_executor()};
};

boost::asio::io_context& DispatchQueueContext::of(DispatchQueue& queue) {
    return queue.state_->context;
}

DispatchQueue::DispatchQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
    thread_ = std::thread([state = state_] {
        // A peer gone away shows as EPIPE from the write. sendfile cannot be told
        // MSG_NOSIGNAL, so the signal it raises for this thread stays blocked here.
        sigset_t pipe{};
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        state->context.run();
    });
}

DispatchQueue::~DispatchQueue() {
    state_->guard.reset();
    state_->context.stop();
    if (isCurrent()) {
        thread_.detach();  // the last owner let go from inside the queue; the thread keeps state_
    } else {
        thread_.join();
    }
}

void DispatchQueue::async(std::function<void()> work) {
    // The work may release the last owner of this queue before post() has returned here; the
    // local reference keeps the context, which post() is still signalling, alive until then.
    const auto state = state_;
    boost::asio::post(state->context, std::move(work));
}

void DispatchQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    boost::asio::post(state_->context, [&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

bool DispatchQueue::isCurrent() const {
    return std::this_thread::get_id() == thread_.get_id();
}

}  // namespace velto

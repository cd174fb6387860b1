#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <cstdint>
#include <functional>

namespace velto {

// A one-shot timer for the operation at the head of a socket's queue. Starting it again or
// cancelling it turns an expiry that is already on its way into a no-op, so a late expiry never
// lands on the operation that came next.
class OperationTimer {
  public:
    explicit OperationTimer(boost::asio::io_context& context) : timer_(context) {}

    // onExpiry must keep the timer's owner alive (capture its shared_ptr): the timer reads its
    // own state when the wait ends.
    void start(double seconds, std::function<void()> onExpiry);
    void cancel();

  private:
    boost::asio::steady_timer timer_;
    std::uint64_t generation_ = 0;
};

}  // namespace velto

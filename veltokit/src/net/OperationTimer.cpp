#include "net/OperationTimer.h"

#include <algorithm>
#include <chrono>

namespace velto {

namespace {

// Far enough to mean "never" without overflowing the clock's representation.
constexpr double kLongestWaitSeconds = 1e9;

}  // namespace

void OperationTimer::start(double seconds, std::function<void()> onExpiry) {
    const std::uint64_t generation = ++generation_;
    const std::chrono::duration<double> wait(std::clamp(seconds, 0.0, kLongestWaitSeconds));
    timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(wait));
    timer_.async_wait(
        [this, generation, onExpiry = std::move(onExpiry)](const boost::system::error_code& error) {
            if (!error && generation == generation_) {
                onExpiry();
            }
        });
}

void OperationTimer::cancel() {
    ++generation_;
    timer_.cancel();
}

}  // namespace velto

#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace velto::cli {

// One line of progress for a terminal: a bar, the share done, the rate since the start and
// the time still to go at that rate.
class TransferProgressBar {
  public:
    using Clock = std::chrono::steady_clock;

    explicit TransferProgressBar(Clock::time_point start) : start_(start) {}

    std::string line(std::uint64_t byteFinished, std::uint64_t byteCount,
                     Clock::time_point now) const;

    static std::string bytes(double count);               // "12.3 MB"
    static std::string duration(std::chrono::seconds s);  // "1:02:03", "2:05"

  private:
    static constexpr int width = 30;
    Clock::time_point start_;
};

}  // namespace velto::cli

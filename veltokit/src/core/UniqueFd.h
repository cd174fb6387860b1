#pragma once

#include <unistd.h>

#include <utility>

namespace velto {

// Owns one POSIX file descriptor and closes it when released.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

    // Closes the descriptor; the result of close() (0, or -1 with errno set).
    int reset(int fd = -1) {
        int result = 0;
        if (fd_ >= 0) {
            result = ::close(fd_);
        }
        fd_ = fd;
        return result;
    }

  private:
    int fd_ = -1;
};

}  // namespace velto

#pragma once

// HTTP ends on 127.0.0.1 over plain blocking POSIX calls, so that the library's HTTP code is
// checked against the kernel rather than against itself. Reads give up after 5 s, so that a
// fault fails a test instead of hanging it.

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>

namespace velto::test {

class RawHttpClient {
  public:
    explicit RawHttpClient(std::uint16_t port);  // connects to 127.0.0.1:port or throws
    ~RawHttpClient();
    RawHttpClient(const RawHttpClient&) = delete;
    RawHttpClient& operator=(const RawHttpClient&) = delete;

    void send(const std::string& text);
    // Everything until the other side closes; nullopt when it did not close in time.
    std::optional<std::string> receiveUntilClosed();

  private:
    int socket_;
};

std::optional<std::string> exchangeRaw(std::uint16_t port, const std::string& request);

// Accepts one connection, reads the request head, writes answer (if any) and keeps the
// connection open until destroyed.
class CannedHttpPeer {
  public:
    explicit CannedHttpPeer(std::optional<std::string> answer);
    ~CannedHttpPeer();
    CannedHttpPeer(const CannedHttpPeer&) = delete;
    CannedHttpPeer& operator=(const CannedHttpPeer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string requestHead() { return head_.get(); }

  private:
    int listener_;
    std::uint16_t port_;
    std::future<std::string> head_;
    std::promise<void> release_;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t closedLoopbackPort();

}  // namespace velto::test

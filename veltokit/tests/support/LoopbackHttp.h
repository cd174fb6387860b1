#pragma once

// Plain blocking HTTP ends on 127.0.0.1 for tests, on POSIX calls so that the library's HTTP
// code is checked against the kernel rather than against itself: a one-shot peer that answers
// with canned bytes, and a raw client. Every read gives up after a few seconds, so that a fault
// fails the test instead of hanging it.

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>

namespace velto::test {

class RawHttpClient {
public:
    explicit RawHttpClient(std::uint16_t port);  // connects to 127.0.0.1:port
    ~RawHttpClient();
    RawHttpClient(const RawHttpClient&) = delete;
    RawHttpClient& operator=(const RawHttpClient&) = delete;

    void send(const std::string& text);
    // Everything until the other side closes ("" when it closed without a word); nullopt when
    // it did not close within the time a read waits.
    std::optional<std::string> receiveUntilClosed();

private:
    int socket_ = -1;
};

// Connects, sends request, and reads until the server closes.
std::optional<std::string> exchangeRaw(std::uint16_t port, const std::string& request);

class CannedHttpPeer {
public:
    // answer: what to write after the request head; nullopt keeps the connection silent
    // until the peer is destroyed.
    explicit CannedHttpPeer(std::optional<std::string> answer);
    ~CannedHttpPeer();
    CannedHttpPeer(const CannedHttpPeer&) = delete;
    CannedHttpPeer& operator=(const CannedHttpPeer&) = delete;

    std::uint16_t port() const { return port_; }
    // The request head the peer received (waits for it).
    std::string requestHead() { return head_.get(); }

private:
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::future<std::string> head_;
    std::promise<void> release_;
    std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t closedLoopbackPort();

}  // namespace velto::test

#pragma once

// Plain blocking HTTP ends on 127.0.0.1 for tests: a one-shot peer that answers with canned
// bytes, and a client that sends raw bytes and reads until the server closes. Socket reads
// give up after a few seconds so that a fault fails the test instead of hanging it.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>

namespace velto::test {

class CannedHttpPeer {
  public:
    // answer: what to write after the request head; nullopt keeps the connection silent
    // until the peer is destroyed.
    explicit CannedHttpPeer(std::optional<std::string> answer);
    ~CannedHttpPeer();

    std::uint16_t port() const { return port_; }
    // The request head the peer received (waits for it).
    std::string requestHead();

  private:
    boost::asio::io_context context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::uint16_t port_ = 0;
    std::promise<std::string> head_;
    std::future<std::string> headFuture_;
    std::promise<void> release_;
    std::thread thread_;
};

// Connects to 127.0.0.1:port, writes request, reads until the other side closes.
std::string exchangeRaw(std::uint16_t port, const std::string& request);

// A port on 127.0.0.1 that nothing listens on (bound, then released).
std::uint16_t unusedTcpPort();

}  // namespace velto::test

#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "discovery/MetadataApplication.h"

namespace velto {

// The HTTP server on the metadata port. It runs on a thread and io_context of its own; each
// connection is an asynchronous session with a deadline, so a slow or silent client holds up
// nobody else.
class MetadataServer {
  public:
    struct Limits {
        std::chrono::milliseconds requestTimeout{10'000};  // for the request head, then the reply
        std::chrono::milliseconds lingerTimeout{2'000};    // draining what the client still sends
    };

    MetadataServer(std::uint16_t port, MetadataApplication application, Limits limits);
    MetadataServer(std::uint16_t port, MetadataApplication application)
        : MetadataServer(port, std::move(application), Limits{}) {}
    ~MetadataServer();  // stops the loop, closes every session

    MetadataServer(const MetadataServer&) = delete;
    MetadataServer& operator=(const MetadataServer&) = delete;

    // Binds 0.0.0.0:port and listens; false with a reason when the port cannot be had.
    bool listen(std::string* error);
    // Starts serving on the server's own thread (once; after a successful listen()).
    void run();
    std::uint16_t localPort() const;

  private:
    void acceptNext();

    std::uint16_t port_;
    Limits limits_;
    std::shared_ptr<const MetadataApplication> application_;
    boost::asio::io_context context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retryTimer_;
    std::thread thread_;
};

}  // namespace velto

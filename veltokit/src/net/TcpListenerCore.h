#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "net/OperationTimer.h"
#include "velto/AsyncTcpListener.h"
#include "velto/DispatchQueue.h"

namespace velto {

// The working part of a listener; runs on its queue's thread. Each accepted connection becomes
// an AsyncTcpSocket on the same queue, handed to the delegate.
class TcpListenerCore : public std::enable_shared_from_this<TcpListenerCore> {
  public:
    TcpListenerCore(std::shared_ptr<DispatchQueue> queue,
                    std::weak_ptr<TcpListenerDelegate> delegate);

    void attach(std::weak_ptr<AsyncTcpListener> handle) { handle_ = std::move(handle); }

    bool acceptOnPort(std::uint16_t port, std::string* error);
    void close();
    std::uint16_t localPort() const { return port_.load(); }  // any thread

  private:
    void acceptNext();
    void onAccepted(const boost::system::error_code& error, boost::asio::ip::tcp::socket socket);

    std::shared_ptr<DispatchQueue> queue_;
    std::weak_ptr<TcpListenerDelegate> delegate_;
    std::weak_ptr<AsyncTcpListener> handle_;
    boost::asio::ip::tcp::acceptor acceptor_;
    OperationTimer retryTimer_;
    std::atomic<std::uint16_t> port_{0};
};

}  // namespace velto

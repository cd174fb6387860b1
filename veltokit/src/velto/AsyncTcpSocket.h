#pragma once

#include <memory>

#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"

namespace velto {

// A TCP connection over Boost.Asio. Reads are buffered: many small exact-length reads are served
// from one receive buffer, without a system call or a queue hop each.
class AsyncTcpSocket : public TcpConnection {
  public:
    static std::shared_ptr<AsyncTcpSocket> create(std::weak_ptr<TcpConnectionDelegate> delegate,
                                                  std::shared_ptr<DispatchQueue> queue);
    ~AsyncTcpSocket() override = default;

    virtual const std::shared_ptr<DispatchQueue>& queue() const = 0;

  protected:
    AsyncTcpSocket() = default;
};

}  // namespace velto

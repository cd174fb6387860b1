#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "velto/AsyncTcpSocket.h"
#include "velto/DispatchQueue.h"

namespace velto {

class AsyncTcpListener;

class TcpListenerDelegate {
  public:
    virtual ~TcpListenerDelegate() = default;
    // A new connection, already on the listener's queue; it has no delegate until one is set.
    virtual void socketDidAcceptNewSocket(AsyncTcpListener& listener,
                                          std::shared_ptr<AsyncTcpSocket> newSocket) = 0;
};

// Accepts TCP connections on a port of all IPv4 interfaces (0.0.0.0).
class AsyncTcpListener {
  public:
    static std::shared_ptr<AsyncTcpListener> create(std::weak_ptr<TcpListenerDelegate> delegate,
                                                    std::shared_ptr<DispatchQueue> queue);
    virtual ~AsyncTcpListener() = default;

    // Binds and listens; false (with a reason in error) when the port cannot be had.
    virtual bool acceptOnPort(std::uint16_t port, std::string* error) = 0;
    virtual std::uint16_t localPort() const = 0;
    virtual void close() = 0;

  protected:
    AsyncTcpListener() = default;
};

}  // namespace velto

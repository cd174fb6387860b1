#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"

namespace velto {

class AsyncUdpSocket;

class UdpSocketDelegate {
  public:
    virtual ~UdpSocketDelegate() = default;
    // One call per datagram: the whole payload and the sender's dotted-decimal IPv4 text.
    virtual void udpSocketDidReceive(AsyncUdpSocket& sock, const Bytes& data,
                                     const std::string& host, std::uint16_t port) = 0;
};

// An IPv4 UDP socket over Boost.Asio; callbacks on its queue.
class AsyncUdpSocket {
  public:
    static std::shared_ptr<AsyncUdpSocket> create(std::weak_ptr<UdpSocketDelegate> delegate,
                                                  std::shared_ptr<DispatchQueue> queue);
    virtual ~AsyncUdpSocket() = default;

    virtual bool enableBroadcast(bool enable, std::string* error) = 0;
    virtual bool bindToPort(std::uint16_t port, std::string* error) = 0;  // all interfaces
    virtual bool beginReceiving(std::string* error) = 0;
    // Called on the socket's queue with "" once the datagram left, else with the reason it
    // did not (a host that is not IPv4 text, a system error, its time-out, the socket closed).
    using SendCompletion = std::function<void(const std::string& error)>;

    // Queued and asynchronous; done, when given, hears the outcome.
    virtual void sendData(Bytes data, const std::string& host, std::uint16_t port, double timeout,
                          long tag, SendCompletion done = {}) = 0;
    virtual std::uint16_t localPort() const = 0;
    virtual void close() = 0;

  protected:
    AsyncUdpSocket() = default;
};

}  // namespace velto

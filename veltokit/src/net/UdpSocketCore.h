#pragma once

#include <atomic>
#include <boost/asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "velto/AsyncUdpSocket.h"
#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"

namespace velto {

// The working part of a UDP socket; runs on its queue's thread. IPv4 only. No address-reuse
// option is set, so binding a port another socket holds fails and the caller can tell.
class UdpSocketCore : public std::enable_shared_from_this<UdpSocketCore> {
  public:
    static constexpr std::size_t kLargestDatagram = 65536;
    static constexpr int kReceiveBufferBytes = 1 << 20;

    UdpSocketCore(std::shared_ptr<DispatchQueue> queue, std::weak_ptr<UdpSocketDelegate> delegate);

    void attach(std::weak_ptr<AsyncUdpSocket> handle) { handle_ = std::move(handle); }

    bool enableBroadcast(bool enable, std::string* error);
    bool bindToPort(std::uint16_t port, std::string* error);
    bool beginReceiving(std::string* error);
    void sendData(Bytes data, const std::string& host, std::uint16_t port, double timeout,
                  AsyncUdpSocket::SendCompletion done);
    void close();
    std::uint16_t localPort() const { return port_.load(); }  // any thread

  private:
    struct Datagram {
        Bytes data;
        boost::asio::ip::udp::endpoint destination;
        double timeout;
        std::chrono::steady_clock::time_point queued;
        AsyncUdpSocket::SendCompletion done;
    };

    bool ensureOpen(std::string* error);
    void noteLocalPort();
    void receiveNext();
    void onReceived(const boost::system::error_code& error, std::size_t count);
    void sendNext();
    void onSent(const boost::system::error_code& error);
    // Takes the oldest datagram off the queue and tells its sender the outcome.
    void finishFront(const std::string& error);

    std::shared_ptr<DispatchQueue> queue_;
    std::weak_ptr<UdpSocketDelegate> delegate_;
    std::weak_ptr<AsyncUdpSocket> handle_;
    boost::asio::ip::udp::socket socket_;
    Bytes received_;
    boost::asio::ip::udp::endpoint sender_;
    std::deque<Datagram> outgoing_;
    bool closed_ = false;
    bool receiving_ = false;
    bool sending_ = false;
    std::atomic<std::uint16_t> port_{0};
};

}  // namespace velto

#pragma once

#include <memory>

#include "discovery/DatagramSender.h"
#include "velto/AsyncUdpSocket.h"

namespace velto {

// Sends discovery datagrams through the server's UDP socket.
class UdpDatagramSender : public DatagramSender {
  public:
    explicit UdpDatagramSender(std::shared_ptr<AsyncUdpSocket> socket)
        : socket_(std::move(socket)) {}

    void sendDatagram(const Bytes& data, const std::string& host, std::uint16_t port,
                      Completion done) override {
        socket_->sendData(data, host, port, sendTimeoutSeconds, 0, std::move(done));
    }

  private:
    static constexpr double sendTimeoutSeconds = 5;
    std::shared_ptr<AsyncUdpSocket> socket_;
};

}  // namespace velto

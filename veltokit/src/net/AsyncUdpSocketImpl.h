#pragma once

#include <memory>

#include "net/UdpSocketCore.h"
#include "velto/AsyncUdpSocket.h"

namespace velto {

// The UDP socket handed to callers; dropping the last reference closes it.
class AsyncUdpSocketImpl final : public AsyncUdpSocket {
  public:
    AsyncUdpSocketImpl(std::shared_ptr<UdpSocketCore> core, std::shared_ptr<DispatchQueue> queue);
    ~AsyncUdpSocketImpl() override;

    AsyncUdpSocketImpl(const AsyncUdpSocketImpl&) = delete;
    AsyncUdpSocketImpl& operator=(const AsyncUdpSocketImpl&) = delete;

    bool enableBroadcast(bool enable, std::string* error) override;
    bool bindToPort(std::uint16_t port, std::string* error) override;
    bool beginReceiving(std::string* error) override;
    void sendData(Bytes data, const std::string& host, std::uint16_t port, double timeout, long tag,
                  SendCompletion done) override;
    std::uint16_t localPort() const override { return core_->localPort(); }
    void close() override;

  private:
    bool onQueue(const std::function<bool(UdpSocketCore&)>& task);

    std::shared_ptr<UdpSocketCore> core_;
    std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace velto

#pragma once

#include <memory>

#include "net/TcpListenerCore.h"
#include "velto/AsyncTcpListener.h"

namespace velto {

// The listener handed to callers; dropping the last reference stops accepting.
class AsyncTcpListenerImpl final : public AsyncTcpListener {
  public:
    AsyncTcpListenerImpl(std::shared_ptr<TcpListenerCore> core,
                         std::shared_ptr<DispatchQueue> queue);
    ~AsyncTcpListenerImpl() override;

    AsyncTcpListenerImpl(const AsyncTcpListenerImpl&) = delete;
    AsyncTcpListenerImpl& operator=(const AsyncTcpListenerImpl&) = delete;

    bool acceptOnPort(std::uint16_t port, std::string* error) override;
    std::uint16_t localPort() const override { return core_->localPort(); }
    void close() override;

  private:
    std::shared_ptr<TcpListenerCore> core_;
    std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace velto

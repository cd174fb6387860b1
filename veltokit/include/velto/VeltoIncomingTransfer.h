#pragma once

#include <memory>
#include <optional>
#include <string>

#include "velto/TcpConnection.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeer.h"

namespace velto {

// Reads one incoming stream and stores what it carries.
class VeltoIncomingTransfer : public TcpConnectionDelegate,
                              public std::enable_shared_from_this<VeltoIncomingTransfer> {
  public:
    // Takes the accepted connection over, reports created and queues the first read.
    static std::shared_ptr<VeltoIncomingTransfer> create(
        std::shared_ptr<TcpConnection> socket, std::string key,
        std::shared_ptr<VeltoIncomingTransferDelegate> delegate);

    const std::string& key() const;
    // The remote address while connected (the sender's peer key).
    std::optional<std::string> remoteHost() const;
    std::optional<VeltoPeer> peer() const;  // set by the delegate
    void setPeer(VeltoPeer peer);

  protected:
    VeltoIncomingTransfer(std::shared_ptr<TcpConnection> socket, std::string key,
                          std::shared_ptr<VeltoIncomingTransferDelegate> delegate);

  private:
    std::shared_ptr<TcpConnection> socket_;
    std::string key_;
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate_;
    std::optional<VeltoPeer> peer_;
};

}  // namespace velto

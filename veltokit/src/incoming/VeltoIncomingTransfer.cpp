#include "velto/VeltoIncomingTransfer.h"

namespace velto {

std::shared_ptr<VeltoIncomingTransfer> VeltoIncomingTransfer::create(
    std::shared_ptr<TcpConnection> socket, std::string key,
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate) {
    return std::shared_ptr<VeltoIncomingTransfer>(
        new VeltoIncomingTransfer(std::move(socket), std::move(key), std::move(delegate)));
}

VeltoIncomingTransfer::VeltoIncomingTransfer(
    std::shared_ptr<TcpConnection> socket, std::string key,
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate)
    : socket_(std::move(socket)), key_(std::move(key)), delegate_(std::move(delegate)) {}

const std::string& VeltoIncomingTransfer::key() const {
    return key_;
}

std::optional<std::string> VeltoIncomingTransfer::remoteHost() const {
    return socket_ ? socket_->connectedHost() : std::nullopt;
}

std::optional<VeltoPeer> VeltoIncomingTransfer::peer() const {
    return peer_;
}

void VeltoIncomingTransfer::setPeer(VeltoPeer peer) {
    peer_ = std::move(peer);
}

}  // namespace velto

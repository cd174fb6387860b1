#include "velto/VeltoTransfer.h"

namespace velto {

std::shared_ptr<VeltoTransfer> VeltoTransfer::create(ItemList items, VeltoPeer peer,
                                                     std::shared_ptr<DispatchQueue> dispatchQueue) {
    return std::shared_ptr<VeltoTransfer>(
        new VeltoTransfer(std::move(items), std::move(peer), std::move(dispatchQueue)));
}

VeltoTransfer::VeltoTransfer(ItemList items, VeltoPeer peer,
                             std::shared_ptr<DispatchQueue> dispatchQueue)
    : items_(std::move(items)), peer_(std::move(peer)), dispatchQueue_(std::move(dispatchQueue)) {}

void VeltoTransfer::setDelegate(std::shared_ptr<VeltoTransferDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void VeltoTransfer::setKey(std::string key) {
    key_ = std::move(key);
}

const std::string& VeltoTransfer::key() const {
    return key_;
}

const VeltoPeer& VeltoTransfer::peer() const {
    return peer_;
}

// Frame only: the connection and the write sequence come next.
void VeltoTransfer::start() {}

ItemList VeltoTransfer::itemsForText(const std::string& /*text*/) {
    return {};
}

ItemList VeltoTransfer::itemsForPaths(const std::vector<std::string>& /*paths*/) {
    return {};
}

}  // namespace velto

#include "discovery/SystemLocalMachine.h"

#include "velto/NetworkTools.h"

namespace velto {

std::vector<InterfaceAddress> SystemLocalMachine::interfaceAddresses() const {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(addressesMutex_);
    if (!addressesAt_ || now - *addressesAt_ >= addressesReusedFor) {
        addresses_ = NetworkTools::getIFAddresses();
        addressesAt_ = now;
    }
    return addresses_;
}

std::optional<std::string> SystemLocalMachine::computerName() const {
    return NetworkTools::getSCComputerName();
}

std::string SystemLocalMachine::userFullName() const {
    return NetworkTools::userFullName();
}

std::optional<Bytes> SystemLocalMachine::userPicturePng() const {
    return NetworkTools::getCBUserImage();
}

std::string SystemLocalMachine::platformWord() const {
    return std::string(NetworkTools::platformWord());
}

}  // namespace velto

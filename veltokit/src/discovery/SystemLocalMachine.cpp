#include "discovery/SystemLocalMachine.h"

#include "velto/NetworkTools.h"

namespace velto {

std::vector<LocalMachine::InterfaceAddress> SystemLocalMachine::interfaceAddresses() const {
    std::vector<InterfaceAddress> result;
    for (const auto& entry : NetworkTools::getIFAddresses()) {
        result.push_back({entry[0], entry[1], entry[2]});
    }
    return result;
}

std::optional<std::string> SystemLocalMachine::computerName() const {
    return NetworkTools::getSCComputerName();
}

std::string SystemLocalMachine::userFullName() const {
    return NetworkTools::fullUserName();
}

std::optional<Bytes> SystemLocalMachine::userPicturePng() const {
    return NetworkTools::getCBUserImage();
}

std::string SystemLocalMachine::platformWord() const {
    return NetworkTools::platformWord();
}

}  // namespace velto

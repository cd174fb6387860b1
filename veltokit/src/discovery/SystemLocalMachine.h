#pragma once

#include "discovery/LocalMachine.h"

namespace velto {

// This machine as the operating system describes it (NetworkTools).
class SystemLocalMachine : public LocalMachine {
  public:
    std::vector<InterfaceAddress> interfaceAddresses() const override;
    std::optional<std::string> computerName() const override;
    std::string userFullName() const override;
    std::optional<Bytes> userPicturePng() const override;
    std::string platformWord() const override;
};

}  // namespace velto

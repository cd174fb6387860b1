#pragma once

#include <chrono>
#include <mutex>
#include <optional>

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

    // Every hello heard is checked against this machine's addresses: a burst of a thousand
    // would ask the system for its interfaces a thousand times within a few milliseconds.
    // An answer is reused this long; a change of address shows after it at the latest.
    static constexpr std::chrono::milliseconds addressesReusedFor{250};

  private:
    mutable std::mutex addressesMutex_;
    mutable std::vector<InterfaceAddress> addresses_;
    mutable std::optional<std::chrono::steady_clock::time_point> addressesAt_;
};

}  // namespace velto

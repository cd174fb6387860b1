#pragma once

#include <optional>
#include <string>
#include <vector>

#include "velto/Bytes.h"
#include "velto/NetworkTools.h"

namespace velto {

// What discovery needs to know about this machine. The system one asks the operating system;
// tests substitute their own.
class LocalMachine {
  public:
    virtual ~LocalMachine() = default;

    // Up, running, non-loopback IPv4 addresses in the system's order.
    virtual std::vector<InterfaceAddress> interfaceAddresses() const = 0;
    virtual std::optional<std::string> computerName() const = 0;
    virtual std::string userFullName() const = 0;
    // The user's picture encoded as PNG, or nullopt when there is none.
    virtual std::optional<Bytes> userPicturePng() const = 0;
    // "(Linux)", "(Macintosh)" or "(Windows)": the system this program runs on.
    virtual std::string platformWord() const = 0;
};

}  // namespace velto

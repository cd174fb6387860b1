#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velto/Bytes.h"

struct ifaddrs;

namespace velto {

// One IPv4 address of an active, non-loopback interface, in dotted-decimal text.
struct InterfaceAddress {
    std::string name;  // as the system calls the interface, e.g. eth0
    std::string ip;
    std::string netmask;  // empty when the system gives none
    bool operator==(const InterfaceAddress&) const = default;
};

// What discovery needs to know about this machine and its user.
class NetworkTools {
  public:
    // Every IPv4 address of every interface that is up and running and not loopback, in the
    // system's order. Empty when the list cannot be had.
    static std::vector<InterfaceAddress> getIFAddresses();
    // The same filter over a list the caller holds.
    static std::vector<InterfaceAddress> interfaceAddresses(const ifaddrs* list);

    // PRETTY_HOSTNAME from the machine-info file when set and not empty, else the host name;
    // no value when neither is known.
    static std::optional<std::string> getSCComputerName(
        const std::string& machineInfoPath = "/etc/machine-info");

    // The user's full name from the account's GECOS field, else the login name.
    static std::string userFullName();

    // The user's picture as PNG, from the usual places of the desktop; no value when there is
    // none or it cannot be read.
    static std::optional<Bytes> getCBUserImage();

    // The word naming this kind of computer in the signature of our hellos.
    static constexpr std::string_view platformWord() {
#if defined(__linux__)
        return "(Linux)";
#elif defined(__APPLE__)
        return "(Macintosh)";
#elif defined(_WIN32)
        return "(Windows)";
#else
#error "no platform word for this system"
#endif
    }
};

}  // namespace velto

#pragma once

// Shared by every test entry point that may open a socket: tests run only where no real
// network can see their datagrams.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>
#include <string>

namespace velto::test {

// The name of an up interface, other than loopback, that has an address outside the test LAN
// (10.77.0.0/24) or any IPv6 address; empty when there is none. Such an interface means a real
// network: the machine's own namespace, or a namespace wired to it.
inline std::string foreignNetworkInterface() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return "(interface list unavailable)";
    }
    std::string found;
    for (ifaddrs* entry = list; entry != nullptr && found.empty(); entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_LOOPBACK) != 0 ||
            (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        if (entry->ifa_addr->sa_family == AF_INET) {
            in_addr address{};
            std::memcpy(&address, entry->ifa_addr->sa_data + 2, sizeof address);
            if ((ntohl(address.s_addr) & 0xFFFFFF00u) != 0x0A4D0000u) {
                found = entry->ifa_name;
            }
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            found = entry->ifa_name;
        }
    }
    freeifaddrs(list);
    return found;
}

}  // namespace velto::test

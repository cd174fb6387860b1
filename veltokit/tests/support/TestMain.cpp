// Test entry point: refuses to run where a real network could see the tests' datagrams.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstdio>
#include <string>

#include "velto/Diagnostics.h"

namespace {

// True when some interface other than loopback carries an address outside the test LAN
// (10.77.0.0/24): then we are in the machine's own network namespace, or near a real one.
std::string foreignInterface() {
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
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            const std::uint32_t host = ntohl(address->sin_addr.s_addr);
            if ((host & 0xFFFFFF00u) != 0x0A4D0000u) {  // 10.77.0.0/24
                found = entry->ifa_name;
            }
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            found = entry->ifa_name;
        }
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests)) {
        const std::string foreign = foreignInterface();
        if (!foreign.empty()) {
            std::fprintf(stderr,
                         "Refusing to run: interface %s is on a real network. These tests open "
                         "sockets on fixed ports and run only in a private network namespace "
                         "(scripts/test.sh, or `unshare --net` with loopback up).\n",
                         foreign.c_str());
            return 2;
        }
    }
    velto::setDiagnosticsEnabled(false);
    return RUN_ALL_TESTS();
}

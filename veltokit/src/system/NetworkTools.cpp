#include "velto/NetworkTools.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "system/ShellAssignments.h"
#include "system/UserAccount.h"
#include "system/UserPicture.h"

namespace velto {
namespace {

std::string ipv4Text(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET) {
        return {};
    }
    sockaddr_in inet{};
    std::memcpy(&inet, address, sizeof inet);  // the list's storage need not be aligned for it
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &inet.sin_addr, text, sizeof text) == nullptr) {
        return {};
    }
    return text;
}

std::optional<std::string> hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

}  // namespace

std::vector<InterfaceAddress> NetworkTools::interfaceAddresses(const ifaddrs* list) {
    constexpr unsigned kMask = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    constexpr unsigned kWanted = IFF_UP | IFF_RUNNING;
    std::vector<InterfaceAddress> entries;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if ((entry->ifa_flags & kMask) != kWanted || entry->ifa_addr == nullptr ||
            entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        entries.push_back({entry->ifa_name != nullptr ? entry->ifa_name : "",
                           ipv4Text(entry->ifa_addr), ipv4Text(entry->ifa_netmask)});
    }
    return entries;
}

std::vector<InterfaceAddress> NetworkTools::getIFAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {};
    }
    auto entries = interfaceAddresses(list);
    freeifaddrs(list);
    return entries;
}

std::optional<std::string> NetworkTools::getSCComputerName(const std::string& machineInfoPath) {
    const auto pretty = ShellAssignments::valueInFile(machineInfoPath, "PRETTY_HOSTNAME");
    if (pretty && !pretty->empty()) {
        return pretty;
    }
    return hostName();
}

std::string NetworkTools::userFullName() {
    return UserAccount::fullName();
}

std::optional<Bytes> NetworkTools::getCBUserImage() {
    return UserPicture::firstAsPng(
        UserPicture::candidatePaths(UserAccount::loginName(), UserAccount::homeFolder()));
}

}  // namespace velto

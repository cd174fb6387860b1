#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <list>
#include <string_view>

#include "support/TempDir.h"
#include "system/ShellAssignments.h"
#include "velto/NetworkTools.h"

namespace velto {
namespace {

// An interface list in memory, shaped like the one getifaddrs() returns.
class FakeInterfaceList {
  public:
    // ip: an IPv4 address, "v6" for an IPv6 one, or nullptr for none.
    void add(const char* name, unsigned flags, const char* ip, const char* netmask = nullptr) {
        Entry& entry = entries_.emplace_back();
        entry.name = name;
        entry.node.ifa_name = entry.name.data();
        entry.node.ifa_flags = flags;
        if (ip != nullptr && std::string_view(ip) == "v6") {
            entry.address6.sin6_family = AF_INET6;
            entry.node.ifa_addr = reinterpret_cast<sockaddr*>(&entry.address6);
        } else if (ip != nullptr) {
            entry.node.ifa_addr = ipv4(entry.address, ip);
        }
        if (netmask != nullptr) {
            entry.node.ifa_netmask = ipv4(entry.mask, netmask);
        }
        if (entries_.size() > 1) {
            std::prev(entries_.end(), 2)->node.ifa_next = &entry.node;
        }
    }
    const ifaddrs* head() const { return entries_.empty() ? nullptr : &entries_.front().node; }

  private:
    struct Entry {
        std::string name;
        ifaddrs node{};
        sockaddr_in address{};
        sockaddr_in mask{};
        sockaddr_in6 address6{};
    };

    static sockaddr* ipv4(sockaddr_in& storage, const char* text) {
        storage.sin_family = AF_INET;
        inet_pton(AF_INET, text, &storage.sin_addr);
        return reinterpret_cast<sockaddr*>(&storage);
    }

    std::list<Entry> entries_;  // nodes point at each other: they must not move
};

TEST(NetworkTools, ListsIPv4OfInterfacesThatAreUpRunningAndNotLoopback) {
    constexpr unsigned kActive = IFF_UP | IFF_RUNNING | IFF_BROADCAST;
    FakeInterfaceList list;
    list.add("lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK, "127.0.0.1", "255.0.0.0");
    list.add("eth0", kActive, "10.77.0.11", "255.255.255.0");
    list.add("eth1", IFF_UP | IFF_BROADCAST, "192.168.9.2", "255.255.255.0");  // cable out
    list.add("eth2", IFF_RUNNING, "192.168.8.2", "255.255.255.0");             // down
    list.add("eth0", kActive, "v6");
    list.add("wg0", kActive, nullptr);
    list.add("eth0", kActive, "10.77.1.99", "255.255.0.0");
    list.add("tun0", kActive | IFF_POINTOPOINT, "10.8.0.2");

    EXPECT_EQ(NetworkTools::interfaceAddresses(list.head()),
              (std::vector<InterfaceAddress>{{"eth0", "10.77.0.11", "255.255.255.0"},
                                             {"eth0", "10.77.1.99", "255.255.0.0"},
                                             {"tun0", "10.8.0.2", ""}}));
    EXPECT_TRUE(NetworkTools::interfaceAddresses(nullptr).empty());
}

TEST(NetworkTools, ReadsShellStyleAssignments) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"(PRETTY_HOSTNAME="Ada's \"Box\" \$1 \n")", R"(Ada's "Box" $1 \n)"},
        {"PRETTY_HOSTNAME='Lab $1 \\'", "Lab $1 \\"},
        {"PRETTY_HOSTNAME=Plain\\ Name  # comment", "Plain Name"},
        {"PRETTY_HOSTNAME=a\"b c\"'d'", "ab cd"},
        {"  export PRETTY_HOSTNAME=X\r", "X"},
        {"PRETTY_HOSTNAME=", ""},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(ShellAssignments::valueOf("# machine\nCHASSIS=laptop\n" + line + "\n",
                                            "PRETTY_HOSTNAME"),
                  expected)
            << line;
    }
    EXPECT_EQ(ShellAssignments::valueOf("N=first\nN=second\nN=\"open\n", "N"), "second");
    EXPECT_EQ(ShellAssignments::valueOf("NAMED=1\n#N=2\nN =3\n", "N"), std::nullopt);
}

TEST(NetworkTools, ComputerNamePrefersThePrettyNameOverTheHostName) {
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    test::TempDir dir;
    const std::string path = (dir.path() / "machine-info").string();

    EXPECT_EQ(NetworkTools::getSCComputerName(path), host);  // no file
    std::ofstream(path) << "PRETTY_HOSTNAME=\"Ada's Laptop\"\n";
    EXPECT_EQ(NetworkTools::getSCComputerName(path), "Ada's Laptop");
    std::ofstream(path) << "PRETTY_HOSTNAME=\"\"\nICON_NAME=computer\n";
    EXPECT_EQ(NetworkTools::getSCComputerName(path), host);
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include "velto/Ipv4Address.h"
#include "velto/NetInfo.h"

namespace velto {
namespace {

struct Subnet {
    const char* ip;
    const char* netmask;
    const char* network;
    const char* broadcast;
};

TEST(NetInfo, DerivesNetworkAndBroadcast) {
    for (const Subnet& s : {
             Subnet{"192.168.1.20", "255.255.255.0", "192.168.1.0", "192.168.1.255"},
             Subnet{"10.1.2.3", "255.0.0.0", "10.0.0.0", "10.255.255.255"},
             Subnet{"172.16.5.9", "255.255.240.0", "172.16.0.0", "172.16.15.255"},
             Subnet{"10.77.0.11", "255.255.255.255", "10.77.0.11", "10.77.0.11"},
             Subnet{"10.77.0.11", "0.0.0.0", "0.0.0.0", "255.255.255.255"},
             Subnet{"10..77.0.11", "255.255.255.0", "10.77.0.0", "10.77.0.255"},
         }) {
        const NetInfo info(s.ip, s.netmask);
        EXPECT_EQ(info.network(), s.network) << s.ip << "/" << s.netmask;
        EXPECT_EQ(info.broadcast(), s.broadcast) << s.ip << "/" << s.netmask;
    }
}

TEST(NetInfo, OnlyPlainDottedAddressesCountAsTyped) {
    for (const char* plain : {"0.0.0.0", "10.1.2.12", "192.168.1.20", "255.255.255.255"}) {
        EXPECT_TRUE(isPlainIpv4Address(plain)) << plain;
    }
    for (const char* other : {"10.1.2.012", "10.1.2.00", "256.1.1.1", "10.1.2", "10.1.2.3.4",
                              "10.1.2.3.", ".10.1.2.3", "10..2.3", " 10.1.2.3", "10.1.2.3 ",
                              "+10.1.2.3", "10.1.2.1234", "0x0a.1.2.3", "localhost", ""}) {
        EXPECT_FALSE(isPlainIpv4Address(other)) << other;
    }
}

TEST(NetInfo, MalformedTextGivesEmptyResults) {
    for (const auto& [ip, netmask] : std::vector<std::pair<std::string, std::string>>{
             {"192.168.1.256", "255.255.255.0"},
             {"192.168.1.20", "255.255.0"},
             {"192.168.x.20", "255.255.255.0"},
             {"192.168.1.20", "255.255.255.-1"},
             {"192.168.1.0020", "255.255.255.0"},
             {"", ""},
         }) {
        const NetInfo info(ip, netmask);
        EXPECT_EQ(info.network(), "") << ip << "/" << netmask;
        EXPECT_EQ(info.broadcast(), "") << ip << "/" << netmask;
    }
}

}  // namespace
}  // namespace velto

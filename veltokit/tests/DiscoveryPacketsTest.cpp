#include <gtest/gtest.h>

#include "support/DiscoveryFakes.h"

namespace velto {
namespace {

using test::FakeWiredServer;
using test::SentDatagram;

std::shared_ptr<FakeWiredServer> serverOnTwoSubnets() {
    auto server = std::make_shared<FakeWiredServer>();
    server->machine->interfaces = {{"eth0", "192.168.1.20", "255.255.255.0"},
                                   {"eth1", "10.1.2.3", "255.0.0.0"}};
    return server;
}

Bytes withText(Bytes head, std::string_view text) {
    head.insert(head.end(), text.begin(), text.end());
    return head;
}

constexpr std::string_view signature = "Ann Lee at Office [Velto] (Linux)";

TEST(DiscoveryPackets, SignatureNamesUserComputerAndPlatform) {
    auto server = std::make_shared<FakeWiredServer>();
    EXPECT_EQ(server->getSystemSignature(), signature);
    server->machine->fullName = "Zoë Ærø";
    server->machine->computer = "Büro";
    EXPECT_EQ(server->getSystemSignature(), "Zoë Ærø at Büro [Velto] (Linux)");
    EXPECT_EQ(server->createHelloPacket("", 4644),
              withText({1}, "Zoë Ærø at Büro [Velto] (Linux)"));
    server->machine->computer.reset();
    EXPECT_EQ(server->getSystemSignature(), "Zoë Ærø at Unknown Computer [Velto] (Linux)");
}

TEST(DiscoveryPackets, HelloTypeFollowsDestinationAndPorts) {
    auto server = std::make_shared<FakeWiredServer>();
    EXPECT_EQ(server->createHelloPacket("", 4644), withText({1}, signature));
    EXPECT_EQ(server->createHelloPacket("10.0.0.7", 4644), withText({2}, signature));
    // Answering a peer on another port: the field carries our own port, not the target's.
    EXPECT_EQ(server->createHelloPacket("10.0.0.7", 5000), withText({5, 0x24, 0x12}, signature));
    EXPECT_EQ(server->createHelloPacket("", 5000), withText({4, 0x24, 0x12}, signature));
    server->localUdpPort = 5000;
    EXPECT_EQ(server->createHelloPacket("", 4644), withText({4, 0x88, 0x13}, signature));
    EXPECT_EQ(server->createHelloPacket("10.0.0.7", 4644), withText({5, 0x88, 0x13}, signature));
    const Bytes goodbye{3, 'B', 'y', 'e', ' ', 'B', 'y', 'e'};
    EXPECT_EQ(server->createGoodbyePacket("", 4644), goodbye);
    EXPECT_EQ(server->createGoodbyePacket("10.0.0.7", 5000), goodbye);
}

TEST(DiscoveryPackets, BroadcastAddressesFollowEveryInterfaceAddress) {
    auto server = serverOnTwoSubnets();
    server->machine->interfaces.push_back({"eth1", "10.1.2.3", "255.0.0.0"});
    EXPECT_EQ(server->findBroadcastAddress(),
              (std::vector<std::string>{"192.168.1.255", "10.255.255.255", "10.255.255.255"}));
    EXPECT_TRUE(server->isLocalPeer("10.1.2.3"));
    EXPECT_FALSE(server->isLocalPeer("10.1.2.4"));
    EXPECT_FALSE(server->isLocalPeer("127.0.0.1"));  // loopback is never listed
    server->machine->interfaces.clear();
    EXPECT_TRUE(server->findBroadcastAddress().empty());
}

TEST(DiscoveryPackets, DefaultHelloAndGoodbyeGoToEveryBroadcastAddressOnce) {
    auto server = serverOnTwoSubnets();
    server->sayHello();
    auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].host, "192.168.1.255");
    EXPECT_EQ(sent[1].host, "10.255.255.255");
    for (const auto& datagram : sent) {
        EXPECT_EQ(datagram.port, 4644);
        EXPECT_EQ(datagram.data, withText({1}, signature));
    }
    server->sayGoodbye();
    sent = server->sender->take();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& datagram : sent) {
        EXPECT_EQ(datagram.port, 4644);
        EXPECT_EQ(datagram.data, (Bytes{3, 'B', 'y', 'e', ' ', 'B', 'y', 'e'}));
    }
}

TEST(DiscoveryPackets, NonStandardPortAnnouncesOnBothPorts) {
    auto server = serverOnTwoSubnets();
    server->localUdpPort = 5000;
    server->sayHello();
    const auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 4u);
    const std::vector<std::pair<std::string, std::uint16_t>> expected{{"192.168.1.255", 5000},
                                                                      {"192.168.1.255", 4644},
                                                                      {"10.255.255.255", 5000},
                                                                      {"10.255.255.255", 4644}};
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].host, expected[i].first);
        EXPECT_EQ(sent[i].port, expected[i].second);
        EXPECT_EQ(sent[i].data, withText({4, 0x88, 0x13}, signature));
    }
    server->sayGoodbye("10.0.0.7");  // unicast: only the one port
    const auto bye = server->sender->take();
    ASSERT_EQ(bye.size(), 1u);
    EXPECT_EQ(bye[0].host, "10.0.0.7");
    EXPECT_EQ(bye[0].port, 5000);
}

TEST(DiscoveryPackets, UnicastHelloGoesToTheOneAddressAndPort) {
    auto server = serverOnTwoSubnets();
    server->sayHello("10.0.0.7", 4644);
    auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].host, "10.0.0.7");
    EXPECT_EQ(sent[0].port, 4644);
    EXPECT_EQ(sent[0].data, withText({2}, signature));
    server->sayHello("10.0.0.7", 5000);
    sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].port, 5000);
    EXPECT_EQ(sent[0].data, withText({5, 0x24, 0x12}, signature));
    server->sayHello("10.0.0.8");
    sent = server->sender->take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].port, 4644);
    EXPECT_EQ(sent[0].data, withText({2}, signature));
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include "support/DiscoveryFakes.h"

namespace velto {
namespace {

using test::FakeWiredServer;

constexpr std::string_view signature = "Ann Lee at Office [Velto] (Linux)";

Bytes withSignature(Bytes head) {
    head.insert(head.end(), signature.begin(), signature.end());
    return head;
}

TEST(DiscoveryPackets, SignatureNamesUserComputerAndPlatform) {
    FakeWiredServer server;
    EXPECT_EQ(server.getSystemSignature(), signature);
    server.machine->fullName = "Zoë Ærø";
    server.machine->computer.reset();
    EXPECT_EQ(server.getSystemSignature(), "Zoë Ærø at Unknown Computer [Velto] (Linux)");
}

TEST(DiscoveryPackets, HelloTypeFollowsDestinationAndPorts) {
    FakeWiredServer server;
    EXPECT_EQ(server.createHelloPacket("", 4644), withSignature({1}));
    EXPECT_EQ(server.createHelloPacket("10.0.0.7", 4644), withSignature({2}));
    // Answering a peer on another port: the field carries our own port, not the target's.
    EXPECT_EQ(server.createHelloPacket("10.0.0.7", 5000), withSignature({5, 0x24, 0x12}));
    server.localUdpPort = 5000;
    EXPECT_EQ(server.createHelloPacket("", 4644), withSignature({4, 0x88, 0x13}));
    EXPECT_EQ(server.createGoodbyePacket("10.0.0.7", 5000),
              (Bytes{3, 'B', 'y', 'e', ' ', 'B', 'y', 'e'}));
}

TEST(DiscoveryPackets, GoToEveryBroadcastAddressAndToBothPortsFromANonStandardOne) {
    auto server = std::make_shared<FakeWiredServer>();
    server->machine->interfaces = {{"eth0", "192.168.1.20", "255.255.255.0"},
                                   {"eth1", "10.1.2.3", "255.0.0.0"},
                                   {"eth2", "10.9.9.9", ""}};  // no netmask: no subnet
    EXPECT_TRUE(server->isLocalPeer("10.1.2.3"));
    EXPECT_FALSE(server->isLocalPeer("127.0.0.1"));

    server->sayGoodbye();
    server->localUdpPort = 5000;
    server->sayHello();
    server->sayHello("10.0.0.7");
    server->sayHello("10.0.0.8", 4644);
    const std::vector<std::tuple<std::string, std::uint16_t, Bytes>> expected{
        {"192.168.1.255", 4644, {3, 'B', 'y', 'e', ' ', 'B', 'y', 'e'}},
        {"10.255.255.255", 4644, {3, 'B', 'y', 'e', ' ', 'B', 'y', 'e'}},
        {"192.168.1.255", 5000, withSignature({4, 0x88, 0x13})},
        {"192.168.1.255", 4644, withSignature({4, 0x88, 0x13})},
        {"10.255.255.255", 5000, withSignature({4, 0x88, 0x13})},
        {"10.255.255.255", 4644, withSignature({4, 0x88, 0x13})},
        {"10.0.0.7", 5000, withSignature({5, 0x88, 0x13})},  // unicast: the one port only
        {"10.0.0.8", 4644, withSignature({5, 0x88, 0x13})}};
    const auto sent = server->sender->take();
    ASSERT_EQ(sent.size(), expected.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].host, std::get<0>(expected[i])) << i;
        EXPECT_EQ(sent[i].port, std::get<1>(expected[i])) << i;
        EXPECT_EQ(sent[i].data, std::get<2>(expected[i])) << i;
    }
}

// Where broadcasts do not pass: addresses added by hand get every announcement and goodbye,
// and a hello to one address is an announcement (so the other side answers), not a reply.
TEST(DiscoveryPackets, AddedAddressesGetAnnouncementsAndGoodbyesUnicast) {
    auto server = std::make_shared<FakeWiredServer>();
    server->setAddedAddresses({"10.0.0.9"});
    server->sayHello();
    server->sayGoodbye();
    std::vector<std::string> outcomes;
    server->announceTo("10.0.0.7", [&](const std::string& error) { outcomes.push_back(error); });
    server->localUdpPort = 5000;
    server->announceTo("10.0.0.8");
    server->sender->failure = "Network is unreachable";
    server->announceTo("10.0.0.8", [&](const std::string& error) { outcomes.push_back(error); });

    const Bytes goodbye{3, 'B', 'y', 'e', ' ', 'B', 'y', 'e'};
    const std::vector<std::tuple<std::string, std::uint16_t, Bytes>> expected{
        {"10.77.0.255", 4644, withSignature({1})},
        {"10.0.0.9", 4644, withSignature({1})},
        {"10.77.0.255", 4644, goodbye},
        {"10.0.0.9", 4644, goodbye},
        {"10.0.0.7", 4644, withSignature({1})},
        {"10.0.0.8", 5000, withSignature({4, 0x88, 0x13})},
        {"10.0.0.8", 4644, withSignature({4, 0x88, 0x13})}};
    auto sent = server->sender->take();
    sent.resize(std::min(sent.size(), expected.size()));
    ASSERT_EQ(sent.size(), expected.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].host, std::get<0>(expected[i])) << i;
        EXPECT_EQ(sent[i].port, std::get<1>(expected[i])) << i;
        EXPECT_EQ(sent[i].data, std::get<2>(expected[i])) << i;
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"", "Network is unreachable"}));
}

}  // namespace
}  // namespace velto

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "support/DiscoveryFakes.h"
#include "support/LoopbackHttp.h"

namespace velto {
namespace {

using test::FakeWiredServer;

const std::string udpText =
    "Our cute velts cannot put their ears on the UDP port 4644 so they cannot hear any sounds "
    "from other velts.";
const std::string metadataText =
    "Our cute velts cannot put their ears on the TCP port 4645 so they cannot know how other "
    "velts look.";
const std::string tcpText =
    "Our cute velts cannot put their ears on the TCP port 4644 so they cannot learn any new "
    "secrets.";

// A socket bound to a port of all interfaces, held for the test's lifetime (port 0: any).
class HeldPort {
  public:
    HeldPort(int type, std::uint16_t port) : fd_(::socket(AF_INET, type, 0)) {
        // Connections of an earlier server may linger on the port (TIME_WAIT): that is no use.
        const int reuse = type == SOCK_STREAM ? 1 : 0;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              (type != SOCK_STREAM || ::listen(fd_, 4) == 0);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~HeldPort() { ::close(fd_); }
    bool ok() const { return ok_; }
    std::uint16_t port() const { return port_; }
    int fd() const { return fd_; }

  private:
    int fd_;
    bool ok_ = false;
    std::uint16_t port_ = 0;
};

// Ports for a server: UDP udp, TCP tcp and tcp + 1, none in use when chosen.
struct ServerPorts {
    std::uint16_t udp;
    std::uint16_t tcp;
};

ServerPorts freeServerPorts() {
    for (;;) {
        HeldPort tcp(SOCK_STREAM, 0);
        HeldPort metadata(SOCK_STREAM, static_cast<std::uint16_t>(tcp.port() + 1));
        HeldPort udp(SOCK_DGRAM, 0);
        if (tcp.ok() && metadata.ok() && udp.ok() && tcp.port() < 65534) {
            return {udp.port(), tcp.port()};
        }
    }
}

class VeltoServerStart : public ::testing::Test {
  protected:
    void start() {
        server = std::make_shared<FakeWiredServer>(ports.tcp, ports.udp);
        server->setPortFailureHandler(
            [this](const std::string& text) { failures.push_back(text); });
        server->startServer();
    }

    bool metadataAnswers() {
        return test::exchangeRaw(static_cast<std::uint16_t>(ports.tcp + 1),
                                 "GET /velto/avatar HTTP/1.1\r\n\r\n")
                   .value_or("")
                   .rfind("HTTP/1.1 404 Not Found\r\n", 0) == 0;
    }
    bool transfersAccepted() {
        try {
            test::RawHttpClient client(ports.tcp);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    ServerPorts ports = freeServerPorts();
    std::shared_ptr<FakeWiredServer> server;
    std::vector<std::string> failures;
};

TEST_F(VeltoServerStart, OpensAllThreeEndpointsAndHandlesDatagramsFromTheSocket) {
    start();
    EXPECT_TRUE(failures.empty());
    EXPECT_TRUE(metadataAnswers());
    EXPECT_TRUE(transfersAccepted());

    HeldPort sender(SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_port = htons(ports.udp);
    const std::string hello =
        "\x02"
        "Ann at Office";
    ::sendto(sender.fd(), hello.data(), hello.size(), 0, reinterpret_cast<sockaddr*>(&target),
             sizeof target);
    // Reception is asynchronous: wait (bounded) for the record to appear.
    for (int i = 0; i < 500 && !server->peers().contains("127.0.0.1"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto peer = server->peers().find("127.0.0.1");
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->systemSignature, "Ann at Office");
}

TEST_F(VeltoServerStart, ReportsEachPortThatCannotBeHadAndGoesOn) {
    {
        HeldPort taken(SOCK_DGRAM, ports.udp);
        ASSERT_TRUE(taken.ok());
        start();
        EXPECT_EQ(failures, std::vector<std::string>{udpText});
        EXPECT_TRUE(metadataAnswers());
        EXPECT_TRUE(transfersAccepted());
    }
    server.reset();
    failures.clear();
    {
        HeldPort taken(SOCK_STREAM, static_cast<std::uint16_t>(ports.tcp + 1));
        ASSERT_TRUE(taken.ok());
        start();
        EXPECT_EQ(failures, std::vector<std::string>{metadataText});
        EXPECT_TRUE(transfersAccepted());
    }
    server.reset();
    failures.clear();
    {
        HeldPort taken(SOCK_STREAM, ports.tcp);
        ASSERT_TRUE(taken.ok());
        start();
        EXPECT_EQ(failures, std::vector<std::string>{tcpText});
        EXPECT_TRUE(metadataAnswers());
    }
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include "discovery/MetadataServer.h"
#include "support/RawTcpPeer.h"

namespace velto {
namespace {

using test::exchangeRaw;

const Bytes png{0x89, 'P', 'N', 'G', 0, 1};
const std::string pictureReply =
    std::string(
        "HTTP/1.1 200 OK\r\nServer: Velto/1.0\r\nContent-Type: image/png\r\n"
        "Content-Length: 6\r\n\r\n\x89PNG") +
    std::string("\0\1", 2);

class MetadataServerOnLoopback : public ::testing::Test {
  protected:
    void start(MetadataServer::Limits limits = {}) {
        server =
            std::make_unique<MetadataServer>(0, MetadataApplication([] { return png; }), limits);
        std::string error;
        ASSERT_TRUE(server->listen(&error)) << error;
        server->run();
        port = server->localPort();
        ASSERT_NE(port, 0);
    }

    std::unique_ptr<MetadataServer> server;
    std::uint16_t port = 0;
};

TEST_F(MetadataServerOnLoopback, AnswersAnyMethodAndClosesAfterTheReply) {
    start();
    EXPECT_EQ(exchangeRaw(port, "GET /velto/avatar HTTP/1.1\r\nHost: x\r\n\r\n"), pictureReply);
    EXPECT_EQ(exchangeRaw(port,
                          "POST /velto/avatar HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n"
                          "\r\nhello"),
              pictureReply);
    EXPECT_EQ(exchangeRaw(port, "GET /velto/avatar?x=1 HTTP/1.0\r\n\r\n"), pictureReply);
}

TEST_F(MetadataServerOnLoopback, ClosesOnRequestsThatAreNotHttpOrTooLarge) {
    start();
    EXPECT_EQ(exchangeRaw(port, "\x16\x03\x01 not http at all\r\n\r\n"), "");
    EXPECT_EQ(exchangeRaw(
                  port, "GET /velto/avatar HTTP/1.1\r\nX: " + std::string(20000, 'a') + "\r\n\r\n"),
              "");
}

TEST_F(MetadataServerOnLoopback, StalledClientNeitherBlocksOthersNorStaysForever) {
    start({std::chrono::seconds(2), std::chrono::milliseconds(300)});
    test::RawTcpPeer stalled(test::RawTcpPeer::To{port});
    stalled.send(bytesOf("GET /velto/av"));  // and then nothing

    EXPECT_EQ(exchangeRaw(port, "GET /velto/avatar HTTP/1.1\r\n\r\n"), pictureReply);

    // The stalled one is cut off at its deadline without an answer.
    EXPECT_EQ(stalled.receiveUntilClosed(), Bytes{});
}

}  // namespace
}  // namespace velto

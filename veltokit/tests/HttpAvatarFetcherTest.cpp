#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "discovery/HttpAvatarFetcher.h"
#include "support/RawTcpPeer.h"

namespace velto {
namespace {

using test::RawTcpPeer;

// Accepts one connection, reads the request head and writes answer, if any, then closes; with
// no answer it holds the connection until destroyed.
class CannedHttpPeer {
  public:
    explicit CannedHttpPeer(std::optional<std::string> answer)
        : thread_([this, answer = std::move(answer)] {
              std::string head;
              if (peer_.accept()) {
                  for (Bytes byte; head.find("\r\n\r\n") == std::string::npos;) {
                      if ((byte = peer_.receive(1)).empty()) {
                          break;
                      }
                      head += static_cast<char>(byte[0]);
                  }
              }
              head_.set_value(head);
              if (answer) {
                  peer_.send(bytesOf(*answer));
                  peer_.close();
              }
          }) {}
    ~CannedHttpPeer() {
        try {
            RawTcpPeer nudge(RawTcpPeer::To{port()});  // ends an accept still waiting
        } catch (const std::exception&) {
        }
        thread_.join();
    }

    std::uint16_t port() const { return peer_.port(); }
    std::string requestHead() { return head_.get_future().get(); }

  private:
    RawTcpPeer peer_;
    std::promise<std::string> head_;
    std::thread thread_;
};

class HttpAvatarFetcherOnLoopback : public ::testing::Test {
  protected:
    // Fetches from 127.0.0.1:port and returns what the completion got, checking that it ran
    // on the queue.
    std::optional<AvatarResponse> fetch(std::uint16_t port, HttpAvatarFetcher::Limits limits = {},
                                        const std::string& ip = "127.0.0.1") {
        HttpAvatarFetcher fetcher(queue, limits);
        std::promise<std::optional<AvatarResponse>> result;
        auto arrived = result.get_future();
        queue->async([&] {
            fetcher.fetch(ip, port, [&](std::optional<AvatarResponse> response) {
                EXPECT_TRUE(queue->isCurrent());
                result.set_value(std::move(response));
            });
        });
        EXPECT_EQ(arrived.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        return arrived.get();
    }

    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("broadcast");
};

TEST_F(HttpAvatarFetcherOnLoopback, GetsThePictureFromTheAvatarPath) {
    CannedHttpPeer peer(
        "HTTP/1.1 200 OK\r\nServer: Velto/1.0\r\nContent-Type: image/png\r\n"
        "Content-Length: 3\r\n\r\nPNG");
    const auto response = fetch(peer.port());
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200u);
    EXPECT_EQ(response->body, bytesOf("PNG"));
    const std::string head = peer.requestHead();
    EXPECT_EQ(head.rfind("GET /velto/avatar HTTP/1.1\r\n", 0), 0u) << head;
    EXPECT_NE(head.find("Host: 127.0.0.1:" + std::to_string(peer.port()) + "\r\n"),
              std::string::npos);
}

TEST_F(HttpAvatarFetcherOnLoopback, HandsOverErrorPagesThatEndWithTheConnection) {
    CannedHttpPeer peer(
        "HTTP/1.1 404 Not Found\r\nServer: Velto/1.0\r\n\r\nAvatar is unavailable.");
    const auto response = fetch(peer.port());
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 404u);
    EXPECT_EQ(textOf(response->body), "Avatar is unavailable.");
}

TEST_F(HttpAvatarFetcherOnLoopback, GivesNothingWhenNoSoundResponseArrives) {
    const std::uint16_t closed = RawTcpPeer().port();
    EXPECT_FALSE(fetch(closed));  // refused: nothing listens there any more
    EXPECT_FALSE(fetch(4645, {}, "not an address"));
    {
        CannedHttpPeer garbage("SSH-2.0-nonsense\r\n\r\n");
        EXPECT_FALSE(fetch(garbage.port()));
    }
    {
        CannedHttpPeer bloated("HTTP/1.1 200 OK\r\nContent-Length: 17\r\n\r\n" +
                               std::string(17, 'x'));
        EXPECT_FALSE(fetch(bloated.port(), {std::chrono::seconds(10), 16}));
    }
    {
        CannedHttpPeer endless("HTTP/1.1 200 OK\r\n\r\n" + std::string(64, 'x'));  // to close
        EXPECT_FALSE(fetch(endless.port(), {std::chrono::seconds(10), 16}));
    }
    {
        CannedHttpPeer silent(std::nullopt);
        EXPECT_FALSE(fetch(silent.port(), {std::chrono::milliseconds(200), 1024}));
    }
}

}  // namespace
}  // namespace velto

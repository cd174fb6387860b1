#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "support/DiscoveryFakes.h"
#include "support/RawTcpPeer.h"
#include "velto/AsyncUdpSocket.h"

namespace velto {
namespace {

class RecordingUdpDelegate : public UdpSocketDelegate {
  public:
    struct Datagram {
        Bytes data;
        std::string host;
        std::uint16_t port;
    };

    void udpSocketDidReceive(AsyncUdpSocket&, const Bytes& data, const std::string& host,
                             std::uint16_t port) override {
        std::lock_guard lock(mutex_);
        received_.push_back({data, host, port});
        changed_.notify_all();
    }
    // The first count datagrams, or fewer after 30 s.
    std::vector<Datagram> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30),
                          [&] { return received_.size() >= count; });
        return received_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Datagram> received_;
};

class AsyncUdpSocketTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(receiver->bindToPort(0, &error)) << error;
        ASSERT_TRUE(receiver->beginReceiving(&error)) << error;
    }

    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("udp-test");
    std::shared_ptr<RecordingUdpDelegate> delegate = std::make_shared<RecordingUdpDelegate>();
    std::shared_ptr<AsyncUdpSocket> receiver = AsyncUdpSocket::create(delegate, queue);
    std::shared_ptr<AsyncUdpSocket> sender = AsyncUdpSocket::create({}, queue);
    std::string error;
};

TEST_F(AsyncUdpSocketTest, BindingATakenPortFailsWithAReason) {
    auto rival = AsyncUdpSocket::create(delegate, queue);
    EXPECT_FALSE(rival->beginReceiving(&error));  // nothing bound yet
    EXPECT_FALSE(rival->bindToPort(receiver->localPort(), &error));
    EXPECT_NE(error.find(std::to_string(receiver->localPort())), std::string::npos) << error;
}

TEST_F(AsyncUdpSocketTest, DeliversWholeDatagramsWithTheirSender) {
    ASSERT_TRUE(sender->bindToPort(0, &error)) << error;
    const Bytes largest = test::patternBytes(65507);
    sender->sendData(bytesOf("dropped"), "not-an-address", receiver->localPort(), -1, 0);
    sender->sendData(largest, "127.0.0.1", receiver->localPort(), -1, 1);
    sender->sendData(bytesOf("end"), "127.0.0.1", receiver->localPort(), -1, 2);

    const auto received = delegate->waitFor(2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].data, largest);
    EXPECT_EQ(received[0].host, "127.0.0.1");
    EXPECT_EQ(received[0].port, sender->localPort());
    EXPECT_EQ(received[1].data, bytesOf("end"));
}

// A LAN of a thousand computers announces itself at once, while the queue is busy with
// something else: the system holds the burst until the socket reads it.
TEST_F(AsyncUdpSocketTest, ABurstOfAThousandHellosWaitsForABusyQueue) {
    std::ifstream limit("/proc/sys/net/core/rmem_max");
    if (int most = 0; !(limit >> most) || most < (1 << 20)) {
        GTEST_SKIP() << "the system caps receive buffers below 1 MiB (net.core.rmem_max)";
    }
    constexpr std::size_t burst = 1000;
    std::promise<void> release;
    queue->async([done = release.get_future().share()] { done.wait(); });
    const int plain = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(plain, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(receiver->localPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string hello(64, 'h');
    for (std::size_t i = 0; i < burst; ++i) {
        ASSERT_EQ(::sendto(plain, hello.data(), hello.size(), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(hello.size()));
    }
    ::close(plain);
    release.set_value();
    EXPECT_EQ(delegate->waitFor(burst).size(), burst);
}

TEST_F(AsyncUdpSocketTest, EverySendHearsItsOutcome) {
    test::Recorder<std::string> outcomes;
    const auto record = [&](const std::string& outcome) { outcomes.add(outcome); };
    sender->sendData(bytesOf("a"), "127.0.0.1", receiver->localPort(), -1, 0, record);
    sender->sendData(bytesOf("b"), "10.1.2.012", receiver->localPort(), -1, 0, record);
    sender->sendData(bytesOf("c"), "10.1.2.3", 4644, -1, 0, record);  // no route here
    for (int i = 0; i < 1000 && outcomes.count() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto heard = outcomes.take();
    ASSERT_EQ(heard.size(), 3u);
    std::sort(heard.begin(), heard.end());
    EXPECT_EQ(heard[0], "");  // sent
    EXPECT_FALSE(heard[1].empty());
    EXPECT_EQ(heard[2], "not an IPv4 address: 10.1.2.012");
}

TEST_F(AsyncUdpSocketTest, BroadcastsGoOutOnlyOnceEnabled) {
    const std::string broadcast = "127.255.255.255";
    sender->sendData(bytesOf("refused"), broadcast, receiver->localPort(), -1, 0);
    sender->sendData(bytesOf("marker"), "127.0.0.1", receiver->localPort(), -1, 1);
    ASSERT_EQ(delegate->waitFor(1).size(), 1u);  // "refused" would have come first
    ASSERT_TRUE(sender->enableBroadcast(true, &error)) << error;
    sender->sendData(bytesOf("broadcast"), broadcast, receiver->localPort(), -1, 2);

    const auto received = delegate->waitFor(2);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].data, bytesOf("marker"));
    EXPECT_EQ(received[1].data, bytesOf("broadcast"));
    EXPECT_EQ(received[1].port, sender->localPort());
}

}  // namespace
}  // namespace velto

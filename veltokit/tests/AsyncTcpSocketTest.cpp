#include <gtest/gtest.h>

#include <random>

#include "net/AsyncTcpSocketImpl.h"
#include "support/RawTcpPeer.h"
#include "support/RecordingTcpDelegate.h"
#include "velto/AsyncTcpListener.h"

namespace velto {
namespace {

using test::patternBytes;
using test::RawTcpPeer;
using test::RecordingTcpDelegate;
using test::TcpEvent;
using Kind = TcpEvent::Kind;
using Events = RecordingTcpDelegate::Events;

constexpr std::size_t kMiB = 1024 * 1024;

std::function<bool(const Events&)> countReaches(Kind kind, std::size_t wanted) {
    return [=](const Events& events) {
        return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [&](auto& e) {
                   return e.kind == kind;
               })) >= wanted;
    };
}

// Each partial report belongs to the operation whose completion comes next.
void expectPartialsBelongToTheNextCompletion(const Events& events, Kind partial, Kind complete) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].kind != partial) {
            continue;
        }
        auto next = std::find_if(events.begin() + static_cast<long>(i), events.end(),
                                 [&](const TcpEvent& e) { return e.kind == complete; });
        ASSERT_NE(next, events.end());
        EXPECT_EQ(events[i].tag, next->tag);
    }
}

class AsyncTcpSocketTest : public testing::Test {
  protected:
    void connect() {
        socket->connectToHost("127.0.0.1", peer.port());
        ASSERT_TRUE(peer.accept());
        ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Connected, 1)));
    }
    TcpSocketStats stats() const {
        return std::static_pointer_cast<AsyncTcpSocketImpl>(socket)->stats();
    }
    void TearDown() override { EXPECT_TRUE(delegate->wellBehaved()); }

    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("socket-test");
    std::shared_ptr<RecordingTcpDelegate> delegate = std::make_shared<RecordingTcpDelegate>(queue);
    RawTcpPeer peer;
    std::shared_ptr<AsyncTcpSocket> socket = AsyncTcpSocket::create(delegate, queue);
};

TEST_F(AsyncTcpSocketTest, ReadsCompleteInQueueOrderWithExactLengthsWhateverTheSegmentation) {
    connect();
    std::vector<std::size_t> lengths{0, 300000, 1, 70000};
    std::mt19937 random(7);
    for (int i = 0; i < 150; ++i) {
        lengths.push_back(random() % 3000);
    }
    std::size_t total = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        socket->readDataToLength(lengths[i], 30, static_cast<long>(i));
        total += lengths[i];
    }
    peer.sendInPieces(patternBytes(total), 9000, 3);

    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Read, lengths.size())));
    const auto reads = delegate->ofKind(Kind::Read);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_EQ(reads[i].tag, static_cast<long>(i));
        EXPECT_EQ(reads[i].data, patternBytes(lengths[i], offset)) << "read " << i;
        offset += lengths[i];
    }
    expectPartialsBelongToTheNextCompletion(delegate->events(), Kind::ReadPartial, Kind::Read);
}

TEST_F(AsyncTcpSocketTest, ChainedOneByteReadsCostNeitherSystemCallsNorQueueHops) {
    connect();
    const long count = 20000;
    delegate->onRead = [count](TcpConnection& sock, const Bytes&, long tag) {
        if (tag + 1 < count) {
            sock.readDataToLength(1, -1, tag + 1);
        }
    };
    socket->readDataToLength(1, -1, 0);
    peer.sendAll(patternBytes(count));

    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Read, count)));
    const auto reads = delegate->ofKind(Kind::Read);
    const Bytes expected = patternBytes(count);
    for (std::size_t i = 0; i < reads.size(); ++i) {
        ASSERT_EQ(reads[i].data, Bytes{expected[i]}) << "read " << i;
    }
    EXPECT_LT(stats().receiveCalls, 50u);  // one per read would be 20000
    EXPECT_LE(stats().deferredPumps, 2u);
}

TEST_F(AsyncTcpSocketTest, PartialReadsReportOnlyTheNewBytesOfTheHeadRead) {
    connect();
    const Bytes all = patternBytes(1010);
    const auto slice = [&](std::size_t from, std::size_t to) {
        return Bytes(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(to));
    };
    socket->readDataToLength(1000, -1, 7);
    socket->readDataToLength(10, -1, 8);
    peer.sendAll(slice(0, 100));
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::ReadPartial, 1)));
    peer.sendAll(slice(100, 150));
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::ReadPartial, 2)));
    peer.sendAll(slice(150, 1004));  // completes tag 7, leaves 4 bytes for tag 8
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::ReadPartial, 3)));
    peer.sendAll(slice(1004, 1010));
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Read, 2)));

    const auto events = delegate->events();
    ASSERT_EQ(events.size(), 6u);
    const std::vector<std::pair<Kind, long>> order{{Kind::Connected, 0},   {Kind::ReadPartial, 7},
                                                   {Kind::ReadPartial, 7}, {Kind::Read, 7},
                                                   {Kind::ReadPartial, 8}, {Kind::Read, 8}};
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(events[i].kind, order[i].first) << i;
        EXPECT_EQ(events[i].tag, order[i].second) << i;
    }
    EXPECT_EQ(events[1].length, 100u);
    EXPECT_EQ(events[2].length, 50u);
    EXPECT_EQ(events[3].data, slice(0, 1000));
    EXPECT_EQ(events[4].length, 4u);
    EXPECT_EQ(events[5].data, slice(1000, 1010));
}

TEST_F(AsyncTcpSocketTest, LargeReadReportsArrivalsButNotTheCompletingOne) {
    connect();
    const Bytes body = patternBytes(3 * kMiB);
    socket->readDataToLength(body.size(), -1, 3);
    peer.sendAll(Bytes(body.begin(), body.begin() + kMiB));
    const auto partialSum = [](const Events& events) {
        std::size_t sum = 0;
        for (const auto& e : events) {
            sum += e.kind == Kind::ReadPartial ? e.length : 0;
        }
        return sum;
    };
    ASSERT_TRUE(delegate->waitFor([&](const Events& e) { return partialSum(e) == kMiB; }));
    peer.sendAll(Bytes(body.begin() + kMiB, body.end()));
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Read, 1)));

    const auto events = delegate->events();
    EXPECT_LT(partialSum(events), body.size());
    EXPECT_EQ(events.back().kind, Kind::Read);
    EXPECT_EQ(events.back().data, body);
}

TEST_F(AsyncTcpSocketTest, ReadTimeoutOrPeerCloseEndsTheConnectionWithAnError) {
    connect();
    socket->readDataToLength(10, 0.2, 3);
    peer.sendAll(patternBytes(3));
    ASSERT_TRUE(delegate->waitForDisconnect());
    EXPECT_TRUE(peer.closedByOtherSide());
    const auto events = delegate->events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, Kind::ReadPartial);
    EXPECT_EQ(events[1].length, 3u);
    EXPECT_FALSE(events[2].text.empty());

    RawTcpPeer otherPeer;
    auto otherDelegate = std::make_shared<RecordingTcpDelegate>(queue);
    auto other = AsyncTcpSocket::create(otherDelegate, queue);
    other->connectToHost("127.0.0.1", otherPeer.port());
    ASSERT_TRUE(otherPeer.accept());
    other->readDataToLength(10, -1, 1);
    otherPeer.close();
    ASSERT_TRUE(otherDelegate->waitForDisconnect());
    queue->sync([] {});
    EXPECT_EQ(otherDelegate->ofKind(Kind::Disconnected).size(), 1u);
    EXPECT_FALSE(otherDelegate->ofKind(Kind::Disconnected)[0].text.empty());
    EXPECT_TRUE(otherDelegate->ofKind(Kind::Read).empty());
}

TEST_F(AsyncTcpSocketTest, WritesGoOutInIssueOrderWithOneCompletionEach) {
    connect();
    std::mt19937 random(11);
    std::vector<std::size_t> sizes{0, 3 * kMiB};
    for (int i = 0; i < 100; ++i) {
        sizes.push_back(random() % 200000);
    }
    std::size_t total = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        socket->writeData(patternBytes(sizes[i], total), -1, static_cast<long>(i));
        total += sizes[i];
    }
    EXPECT_EQ(peer.receive(total), patternBytes(total));
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Wrote, sizes.size())));

    const auto wrote = delegate->ofKind(Kind::Wrote);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(wrote[i].tag, static_cast<long>(i));
    }
    expectPartialsBelongToTheNextCompletion(delegate->events(), Kind::WritePartial, Kind::Wrote);
}

TEST_F(AsyncTcpSocketTest, PartialWritesReportTheBytesOfEachPass) {
    connect();
    const Bytes data = patternBytes(32 * kMiB);  // more than the socket buffers on both sides
    socket->writeData(data, -1, 5);
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::WritePartial, 1)));
    EXPECT_EQ(peer.receive(data.size()), data);
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Wrote, 1)));

    std::size_t sum = 0;
    for (const auto& partial : delegate->ofKind(Kind::WritePartial)) {
        EXPECT_EQ(partial.tag, 5);
        EXPECT_GT(partial.length, 0u);
        sum += partial.length;
    }
    EXPECT_LT(sum, data.size());
    EXPECT_EQ(delegate->events().back().kind, Kind::Wrote);
}

TEST_F(AsyncTcpSocketTest, WriteTimeoutAsksForAnExtensionAndClosesWhenRefused) {
    connect();
    delegate->onWriteTimeout = [asked = 0](const TcpEvent&) mutable {
        return asked++ == 0 ? 0.2 : 0.0;
    };
    socket->writeData(patternBytes(64 * kMiB), 0.2, 9);  // the peer never reads
    ASSERT_TRUE(delegate->waitForDisconnect());

    const auto asks = delegate->ofKind(Kind::WriteTimeout);
    ASSERT_EQ(asks.size(), 2u);
    EXPECT_EQ(asks[0].tag, 9);
    EXPECT_EQ(asks[1].tag, 9);
    EXPECT_GE(asks[0].elapsed, 0.2);
    EXPECT_GE(asks[1].elapsed, asks[0].elapsed + 0.19);
    EXPECT_GT(asks[0].length, 0u);
    EXPECT_GE(asks[1].length, asks[0].length);
    EXPECT_FALSE(delegate->events().back().text.empty());
    EXPECT_TRUE(delegate->ofKind(Kind::Wrote).empty());
}

TEST_F(AsyncTcpSocketTest, DisconnectAfterWritingDeliversEverythingAfterTheOwnerLetsGo) {
    connect();
    const Bytes data = patternBytes(7 * kMiB + 10);
    socket->writeData(Bytes(data.begin(), data.begin() + kMiB), -1, 1);
    socket->writeData(Bytes(data.begin() + kMiB, data.end() - 10), -1, 2);
    socket->writeData(Bytes(data.end() - 10, data.end()), 5, 3);
    socket->disconnectAfterWriting();
    socket->writeData(patternBytes(5), -1, 4);  // too late: refused
    socket.reset();

    EXPECT_EQ(peer.receiveUntilClosed(), data);
    ASSERT_TRUE(delegate->waitForDisconnect());
    queue->sync([] {});
    const auto wrote = delegate->ofKind(Kind::Wrote);
    ASSERT_EQ(wrote.size(), 3u);
    EXPECT_EQ(wrote[2].tag, 3);
    ASSERT_EQ(delegate->ofKind(Kind::Disconnected).size(), 1u);
    EXPECT_EQ(delegate->events().back().text, "");
}

TEST_F(AsyncTcpSocketTest, DisconnectInsideAReportEndsReportsAtOnce) {
    connect();
    delegate->onRead = [](TcpConnection& sock, const Bytes&, long tag) {
        if (tag == 9) {
            sock.disconnect();
            sock.disconnect();
        } else {
            sock.readDataToLength(1, -1, tag + 1);
        }
    };
    socket->readDataToLength(1, -1, 0);
    peer.sendAll(patternBytes(100));  // plenty more buffered when the disconnect comes

    ASSERT_TRUE(delegate->waitForDisconnect());
    EXPECT_TRUE(peer.closedByOtherSide());
    queue->sync([] {});
    EXPECT_EQ(delegate->ofKind(Kind::Read).size(), 10u);
    ASSERT_EQ(delegate->ofKind(Kind::Disconnected).size(), 1u);
    EXPECT_EQ(delegate->events().back().text, "");
    EXPECT_FALSE(socket->connectedHost().has_value());
}

TEST_F(AsyncTcpSocketTest, FailedConnectsEndInOneDisconnect) {
    for (const std::string host : {"127.0.0.1", "not-an-address"}) {
        auto failing = std::make_shared<RecordingTcpDelegate>(queue);
        auto sock = AsyncTcpSocket::create(failing, queue);
        sock->connectToHost(host, test::unusedTcpPort());
        ASSERT_TRUE(failing->waitForDisconnect()) << host;
        queue->sync([] {});
        const auto events = failing->events();
        ASSERT_EQ(events.size(), 1u) << host;
        EXPECT_FALSE(events[0].text.empty()) << host;
        EXPECT_TRUE(failing->wellBehaved());
    }
}

TEST_F(AsyncTcpSocketTest, DroppedSocketClosesWithoutReports) {
    connect();
    socket->readDataToLength(10, -1, 1);
    socket.reset();
    EXPECT_TRUE(peer.closedByOtherSide());
    queue->sync([] {});
    EXPECT_EQ(delegate->events().size(), 1u);  // only the connect
}

class Acceptor : public TcpListenerDelegate {
  public:
    explicit Acceptor(std::shared_ptr<RecordingTcpDelegate> serverSide)
        : serverSide_(std::move(serverSide)) {}
    void socketDidAcceptNewSocket(AsyncTcpListener&,
                                  std::shared_ptr<AsyncTcpSocket> sock) override {
        sock->setDelegate(serverSide_);
        sock->readDataToLength(5, 10, 1);
        std::lock_guard lock(mutex_);
        accepted_.push_back(std::move(sock));
    }
    std::shared_ptr<AsyncTcpSocket> first() {
        std::lock_guard lock(mutex_);
        return accepted_.empty() ? nullptr : accepted_.front();
    }

  private:
    std::shared_ptr<RecordingTcpDelegate> serverSide_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<AsyncTcpSocket>> accepted_;
};

TEST_F(AsyncTcpSocketTest, ListenerHandsOverConnectionsAndRefusesATakenPort) {
    auto serverSide = std::make_shared<RecordingTcpDelegate>(queue);
    auto acceptor = std::make_shared<Acceptor>(serverSide);
    auto listener = AsyncTcpListener::create(acceptor, queue);
    std::string error;
    ASSERT_TRUE(listener->acceptOnPort(0, &error)) << error;
    const std::uint16_t port = listener->localPort();
    auto rival = AsyncTcpListener::create(acceptor, queue);
    EXPECT_FALSE(rival->acceptOnPort(port, &error));
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;

    socket->connectToHost("127.0.0.1", port);
    ASSERT_TRUE(delegate->waitFor(countReaches(Kind::Connected, 1)));
    socket->writeData(bytesOf("hello"), 10, 1);
    ASSERT_TRUE(serverSide->waitFor(countReaches(Kind::Read, 1)));

    EXPECT_EQ(serverSide->events()[0].data, bytesOf("hello"));
    EXPECT_TRUE(serverSide->wellBehaved());
    const auto accepted = acceptor->first();
    EXPECT_EQ(accepted->queue(), queue);
    EXPECT_EQ(accepted->connectedHost(), "127.0.0.1");
    EXPECT_EQ(socket->connectedHost(), "127.0.0.1");
    EXPECT_EQ(socket->connectedPort(), port);
    EXPECT_EQ(delegate->events()[0].text, "127.0.0.1");
    EXPECT_EQ(delegate->events()[0].length, port);
}

}  // namespace
}  // namespace velto

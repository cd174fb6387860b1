#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "core/UniqueFd.h"
#include "net/AsyncTcpSocketImpl.h"
#include "net/TcpSocketCore.h"
#include "support/FileTree.h"
#include "support/RawTcpPeer.h"
#include "support/RecordingTcpDelegate.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "velto/AsyncTcpListener.h"

namespace velto {
namespace {

using test::operator+;
using test::patternBytes;
using test::RawTcpPeer;
using test::RecordingTcpDelegate;
using test::TcpEvent;
using Kind = TcpEvent::Kind;

constexpr std::size_t kMiB = 1024 * 1024;

// Each partial report belongs to the operation whose completion comes next; the bytes of
// partial reads are those at the start of that read's data, in order.
void expectPartialsBelongToTheNextCompletion(const RecordingTcpDelegate::Events& events,
                                             Kind partial, Kind complete) {
    std::size_t offset = 0;
    for (auto it = events.begin(); it != events.end(); ++it) {
        if (it->kind == complete) {
            offset = 0;
        }
        if (it->kind == partial) {
            const auto next =
                std::find_if(it, events.end(), [&](auto& e) { return e.kind == complete; });
            ASSERT_NE(next, events.end());
            EXPECT_EQ(it->tag, next->tag);
            if (partial == Kind::ReadPartial) {
                ASSERT_LE(offset + it->length, next->data.size());
                EXPECT_TRUE(std::equal(it->data.begin(), it->data.end(),
                                       next->data.begin() + static_cast<std::ptrdiff_t>(offset)));
                EXPECT_LE(it->length, TcpSocketCore::kDirectReceiveMax);
                offset += it->length;
            }
        }
    }
}

class AsyncTcpSocketTest : public testing::Test {
  protected:
    void connect() {
        socket->connectToHost("127.0.0.1", peer.port());
        ASSERT_TRUE(peer.accept());
        ASSERT_TRUE(delegate->waitForCount(Kind::Connected, 1));
    }
    // Waits until the queue has handled everything posted so far.
    void drainQueue() {
        queue->sync([] {});
    }
    void TearDown() override { EXPECT_TRUE(delegate->wellBehaved()); }

    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("socket-test");
    std::shared_ptr<RecordingTcpDelegate> delegate = std::make_shared<RecordingTcpDelegate>(queue);
    RawTcpPeer peer;
    std::shared_ptr<AsyncTcpSocket> socket = AsyncTcpSocket::create(delegate, queue);
};

TEST_F(AsyncTcpSocketTest, ReadsCompleteInQueueOrderWithExactLengthsWhateverTheSegmentation) {
    connect();
    // Large ones skip the buffer, the first in several system calls however it arrives.
    std::vector<std::size_t> lengths{0, 700000, 1, 70000};
    std::mt19937 random(7);
    for (int i = 0; i < 150; ++i) {
        lengths.push_back(random() % 3000);
    }
    std::size_t total = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        socket->readDataToLength(lengths[i], 30, static_cast<long>(i));
        total += lengths[i];
    }
    peer.send(patternBytes(total), 9000);

    ASSERT_TRUE(delegate->waitForCount(Kind::Read, lengths.size()));
    const auto reads = delegate->ofKind(Kind::Read);
    for (std::size_t i = 0, offset = 0; i < lengths.size(); offset += lengths[i++]) {
        EXPECT_EQ(reads[i].tag, static_cast<long>(i));
        EXPECT_EQ(reads[i].data, patternBytes(lengths[i], offset)) << "read " << i;
    }
    expectPartialsBelongToTheNextCompletion(delegate->events(), Kind::ReadPartial, Kind::Read);
}

// A name and the byte that ends it come in one read however the bytes are cut; without that
// byte within the limit the read ends at the limit, and the stream goes on behind both.
TEST_F(AsyncTcpSocketTest, ReadsToAByteEndAtItOrAtTheirLimitWhateverTheSegmentation) {
    connect();
    const std::string stream("name\0xyzw\0\0ok", 13);
    const std::vector<std::string> expected = {std::string("name\0", 5), "xyz",
                                               std::string("w\0", 2), std::string(1, '\0'), "ok"};
    for (long tag = 0; tag < 4; ++tag) {
        socket->readDataToByte(0, tag == 1 ? 3 : 10, 30, tag);
    }
    socket->readDataToLength(2, 30, 4);
    peer.send(Bytes(stream.begin(), stream.end()), 1);

    ASSERT_TRUE(delegate->waitForCount(Kind::Read, expected.size()));
    const auto reads = delegate->ofKind(Kind::Read);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(reads[i].tag, static_cast<long>(i));
        EXPECT_EQ(reads[i].data, Bytes(expected[i].begin(), expected[i].end())) << "read " << i;
    }
}

TEST_F(AsyncTcpSocketTest, ChainedOneByteReadsCostNeitherSystemCallsNorQueueHops) {
    connect();
    const long count = 20000;
    delegate->onRead = [count](TcpConnection& sock, long tag) {
        if (tag + 1 < count) {
            sock.readDataToLength(1, -1, tag + 1);
        }
    };
    socket->readDataToLength(1, -1, 0);
    peer.send(patternBytes(count));

    ASSERT_TRUE(delegate->waitForCount(Kind::Read, count));
    const auto reads = delegate->ofKind(Kind::Read);
    const Bytes expected = patternBytes(count);
    for (std::size_t i = 0; i < reads.size(); ++i) {
        ASSERT_EQ(reads[i].data, Bytes{expected[i]}) << "read " << i;
    }
    const auto stats = std::static_pointer_cast<AsyncTcpSocketImpl>(socket)->stats();
    EXPECT_LT(stats.receiveCalls, 50u);  // one per read would be 20000
    EXPECT_LE(stats.deferredPumps, 2u);
}

// File bodies arrive exactly, and the stream goes on after them, whichever way they move: in the
// kernel, copied as asked for, or copied from the middle of a body on, where the file cannot
// take a splice (one opened for appending).
TEST_F(AsyncTcpSocketTest, FileBodiesMoveExactlyInTheKernelOrCopiedAndTheStreamGoesOn) {
    const test::TempDir dir;
    const Bytes body = patternBytes(700000);
    test::writeFile(dir.str() + "/out.bin", textOf(body));
    enum class Way { kernel, copied, appending };
    for (const Way way : {Way::kernel, Way::copied, Way::appending}) {
        test::ScopedEnvironment environment;
        environment.set("VELTO_PLAIN_COPY", way == Way::copied ? "1" : "0");
        const auto events = std::make_shared<RecordingTcpDelegate>(queue);
        const auto connection = AsyncTcpSocket::create(events, queue);
        RawTcpPeer other;
        connection->connectToHost("127.0.0.1", other.port());
        ASSERT_TRUE(other.accept());

        const std::string in = dir.str() + "/in" + std::to_string(static_cast<int>(way));
        const UniqueFd received(
            ::open(in.c_str(),
                   O_WRONLY | O_CREAT | O_CLOEXEC | (way == Way::appending ? O_APPEND : 0), 0600));
        const UniqueFd sent(::open((dir.str() + "/out.bin").c_str(), O_RDONLY | O_CLOEXEC));
        connection->readIntoFile(received.get(), body.size(), 30, 1);
        connection->readDataToLength(5, 30, 2);
        connection->writeFromFile(sent.get(), 1000, 600000, 30, 3);
        connection->writeData(bytesOf("after"), 30, 4);
        other.send(body + bytesOf("after"), 100000);

        ASSERT_TRUE(events->waitForCount(Kind::Read, 2));
        ASSERT_TRUE(events->waitForCount(Kind::Wrote, 2));
        EXPECT_TRUE(bytesOf(test::readFile(in)) == body) << static_cast<int>(way);
        EXPECT_EQ(events->ofKind(Kind::Read)[1].data, bytesOf("after"));
        const Bytes out = other.receive(600005);
        EXPECT_TRUE(Bytes(out.begin(), out.begin() + 600000) == patternBytes(600000, 1000));
        EXPECT_EQ(Bytes(out.begin() + 600000, out.end()), bytesOf("after"));
    }
}

TEST_F(AsyncTcpSocketTest, PartialReadsReportTheNewBytesOfTheHeadReadButNotTheCompletingOnes) {
    connect();
    const Bytes all = patternBytes(1010);
    const auto send = [&](long from, long to) {
        peer.send(Bytes(all.begin() + from, all.begin() + to));
    };
    socket->readDataToLength(1000, -1, 7);
    socket->readDataToLength(10, -1, 8);
    send(0, 100);
    ASSERT_TRUE(delegate->waitForCount(Kind::ReadPartial, 1));
    send(100, 150);
    ASSERT_TRUE(delegate->waitForCount(Kind::ReadPartial, 2));
    send(150, 1004);  // completes tag 7 and brings 4 bytes for tag 8
    ASSERT_TRUE(delegate->waitForCount(Kind::ReadPartial, 3));
    send(1004, 1010);
    ASSERT_TRUE(delegate->waitForCount(Kind::Read, 2));

    const auto events = delegate->events();
    const std::vector<std::tuple<Kind, long, std::size_t>> expected{
        {Kind::Connected, 0, peer.port()}, {Kind::ReadPartial, 7, 100},
        {Kind::ReadPartial, 7, 50},        {Kind::Read, 7, 1000},
        {Kind::ReadPartial, 8, 4},         {Kind::Read, 8, 10}};
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(std::tie(events[i].kind, events[i].tag, events[i].length), expected[i]) << i;
    }
    EXPECT_EQ(events[1].data, Bytes(all.begin(), all.begin() + 100));
    EXPECT_EQ(events[3].data, Bytes(all.begin(), all.begin() + 1000));
    EXPECT_EQ(events[4].data, Bytes(all.begin() + 1000, all.begin() + 1004));
    EXPECT_EQ(events[5].data, Bytes(all.begin() + 1000, all.end()));
}

TEST_F(AsyncTcpSocketTest, WritesGoOutInIssueOrderWithOneCompletionAndPartialsOfEachPass) {
    connect();
    std::mt19937 random(11);
    std::vector<std::size_t> sizes{0, 32 * kMiB};  // more than the socket buffers on both sides
    for (int i = 0; i < 100; ++i) {
        sizes.push_back(random() % 200000);
    }
    std::size_t total = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        socket->writeData(patternBytes(sizes[i], total), -1, static_cast<long>(i));
        total += sizes[i];
    }
    ASSERT_TRUE(delegate->waitForCount(Kind::WritePartial, 1));  // the peer has not read yet
    EXPECT_EQ(peer.receive(total), patternBytes(total));
    ASSERT_TRUE(delegate->waitForCount(Kind::Wrote, sizes.size()));

    const auto wrote = delegate->ofKind(Kind::Wrote);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(wrote[i].tag, static_cast<long>(i));
    }
    expectPartialsBelongToTheNextCompletion(delegate->events(), Kind::WritePartial, Kind::Wrote);
    std::size_t passes = 0;
    for (const auto& partial : delegate->ofKind(Kind::WritePartial)) {
        EXPECT_GT(partial.length, 0u);
        passes += partial.tag == 1 ? partial.length : 0;
    }
    EXPECT_GT(passes, 0u);
    EXPECT_LT(passes, sizes[1]);  // bytes of each pass, the completing one not reported

    socket->readDataToLength(1, -1, 0);
    peer.close();
    ASSERT_TRUE(delegate->waitForDisconnect());
    EXPECT_FALSE(delegate->events().back().text.empty());
}

TEST_F(AsyncTcpSocketTest, WriteTimeoutAsksForAnExtensionAndClosesWhenRefused) {
    connect();
    delegate->onWriteTimeout = [asked = 0]() mutable { return asked++ == 0 ? 0.2 : 0.0; };
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

// Time-outs measure idleness: a read and a write that keep moving outlast their time-out
// several times over, and a read that stops ends one time-out after its last byte.
TEST_F(AsyncTcpSocketTest, TimeOutsCountFromTheLastByteThatMovedNotFromTheStart) {
    connect();
    const double timeout = 0.3;
    const auto pause = std::chrono::milliseconds(100);
    const auto start = std::chrono::steady_clock::now();
    socket->readDataToLength(8000, timeout, 1);
    for (std::size_t i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(pause);
        ASSERT_TRUE(peer.send(patternBytes(1000, i * 1000)));
    }
    ASSERT_TRUE(delegate->waitForCount(Kind::Read, 1));
    EXPECT_EQ(delegate->ofKind(Kind::Read)[0].data, patternBytes(8000));

    // More than the kernels' buffers on both sides hold, taken a piece at a time.
    const std::size_t size = 32 * kMiB;
    socket->writeData(patternBytes(size), timeout, 2);
    for (std::size_t taken = 0; taken < size;) {
        std::this_thread::sleep_for(pause);
        const Bytes piece = peer.receive(std::min<std::size_t>(4 * kMiB, size - taken));
        ASSERT_FALSE(piece.empty());
        taken += piece.size();
    }
    ASSERT_TRUE(delegate->waitForCount(Kind::Wrote, 1));
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(delegate->ofKind(Kind::WriteTimeout).empty());

    socket->readDataToLength(100, timeout, 3);
    ASSERT_TRUE(peer.send(patternBytes(50)));
    ASSERT_TRUE(delegate->waitForDisconnect());
    EXPECT_EQ(delegate->events().back().text, "Read operation timed out");
    EXPECT_EQ(delegate->ofKind(Kind::Read).size(), 1u);
}

// The pattern of a transfer of many small elements: each write issued from the completion of
// the one before.
TEST_F(AsyncTcpSocketTest, ChainedSmallWritesShareSystemCallsKeepOrderAndAllGoOutBeforeAClose) {
    connect();
    const long count = 5000;
    const std::size_t size = 300;  // a header or a small body
    delegate->onWrote = [&](TcpConnection& sock, long tag) {
        if (tag + 1 < count) {
            sock.writeData(patternBytes(size, static_cast<std::size_t>(tag + 1) * size), 10,
                           tag + 1);
        } else {
            sock.disconnectAfterWriting();
        }
    };
    socket->writeData(patternBytes(size), 10, 0);

    EXPECT_EQ(peer.receiveUntilClosed(), patternBytes(count * size));
    ASSERT_TRUE(delegate->waitForDisconnect());
    EXPECT_EQ(delegate->events().back().text, "");
    const auto wrote = delegate->ofKind(Kind::Wrote);
    ASSERT_EQ(wrote.size(), static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) {
        ASSERT_EQ(wrote[static_cast<std::size_t>(i)].tag, i);
    }
    EXPECT_TRUE(delegate->ofKind(Kind::WritePartial).empty());
    const auto stats = std::static_pointer_cast<AsyncTcpSocketImpl>(socket)->stats();
    EXPECT_LT(stats.sendCalls, 50u);  // one per write would be 5000
}

// Staged writes were reported complete, so a peer that stops reading must still end the
// connection rather than hold it open for ever.
TEST_F(AsyncTcpSocketTest, SmallWritesToAPeerThatNeverReadsEndInATimeout) {
    connect();
    delegate->onWriteTimeout = [] { return 0.0; };
    delegate->onWrote = [](TcpConnection& sock, long tag) {
        sock.writeData(patternBytes(1024), 0.3, tag + 1);  // until the buffers are full
    };
    socket->writeData(patternBytes(1024), 0.3, 0);
    ASSERT_TRUE(delegate->waitForDisconnect());
    EXPECT_EQ(delegate->events().back().text, "Write operation timed out");
    EXPECT_LT(delegate->ofKind(Kind::Wrote).size(), 200'000u);
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
    drainQueue();
    const auto wrote = delegate->ofKind(Kind::Wrote);
    ASSERT_EQ(wrote.size(), 3u);
    EXPECT_EQ(wrote[2].tag, 3);
    EXPECT_EQ(delegate->ofKind(Kind::Disconnected).size(), 1u);
    EXPECT_EQ(delegate->events().back().text, "");
}

TEST_F(AsyncTcpSocketTest, DisconnectInsideAReportEndsReportsAtOnce) {
    connect();
    delegate->onRead = [](TcpConnection& sock, long tag) {
        sock.readDataToLength(1, -1, tag + 1);
        if (tag == 9) {
            sock.disconnect();
            sock.disconnect();
        }
    };
    socket->readDataToLength(1, -1, 0);
    peer.send(patternBytes(100));  // plenty more buffered when the disconnect comes

    ASSERT_TRUE(delegate->waitForDisconnect());
    EXPECT_TRUE(peer.closedByOtherSide());
    drainQueue();
    EXPECT_EQ(delegate->events().size(), 12u);  // connected, ten reads, disconnected
    EXPECT_EQ(delegate->events().back().text, "");
    EXPECT_FALSE(socket->connectedHost().has_value());
}

TEST_F(AsyncTcpSocketTest, DroppedSocketClosesWithoutReports) {
    connect();
    socket->readDataToLength(10, -1, 1);
    socket.reset();
    EXPECT_TRUE(peer.closedByOtherSide());
    drainQueue();
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
        accepted_ = std::move(sock);
    }
    std::shared_ptr<AsyncTcpSocket> accepted() {
        std::lock_guard lock(mutex_);
        return accepted_;
    }

  private:
    std::shared_ptr<RecordingTcpDelegate> serverSide_;
    std::mutex mutex_;
    std::shared_ptr<AsyncTcpSocket> accepted_;
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
    socket->writeData(bytesOf("hello"), 10, 1);
    ASSERT_TRUE(serverSide->waitForCount(Kind::Read, 1));
    EXPECT_EQ(serverSide->events()[0].data, bytesOf("hello"));
    EXPECT_TRUE(serverSide->wellBehaved());
    EXPECT_EQ(acceptor->accepted()->queue(), queue);
    EXPECT_EQ(acceptor->accepted()->connectedHost(), "127.0.0.1");
    EXPECT_EQ(socket->connectedPort(), port);
    EXPECT_EQ(delegate->events()[0].text, "127.0.0.1");
    EXPECT_EQ(delegate->events()[0].length, port);
}

}  // namespace
}  // namespace velto

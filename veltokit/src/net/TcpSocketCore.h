#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "net/OperationTimer.h"
#include "net/ReceiveBuffer.h"
#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"

namespace velto {

// What the reads of one connection cost; for tests and benchmarks.
struct TcpSocketStats {
    std::uint64_t receiveCalls = 0;   // reads asked of the kernel
    std::uint64_t deferredPumps = 0;  // queue hops taken to deliver reports later
};

// The working part of one TCP connection. Everything except the accessors marked "any thread"
// runs on the queue's thread. The AsyncTcpSocket in front of it owns it, and so do the handlers
// of its pending operations: a close after writing finishes after the owner let go.
//
// Reports are not delivered from inside the calls that cause them. They wait in events_ and
// pump() hands them out one at a time; while it runs, reads queued from inside a report are
// served from the receive buffer by the same loop, without a queue hop or a system call each.
//
// The kernel is read only while a read is queued, so an idle connection notices the peer going
// away at its next read or write. Once a close is asked for, new reads and writes are ignored.
class TcpSocketCore : public std::enable_shared_from_this<TcpSocketCore> {
  public:
    static constexpr std::size_t kReceiveBufferSize = 64 * 1024;

    TcpSocketCore(std::shared_ptr<DispatchQueue> queue,
                  std::weak_ptr<TcpConnectionDelegate> delegate);
    // A connection a listener accepted: already connected, no delegate yet.
    TcpSocketCore(std::shared_ptr<DispatchQueue> queue, boost::asio::ip::tcp::socket accepted);

    // The object reports name as their socket; set once, before the core is shared.
    void attach(std::weak_ptr<TcpConnection> handle) { handle_ = std::move(handle); }

    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate);
    void connectToHost(const std::string& host, std::uint16_t port);
    void readDataToLength(std::size_t length, double timeout, long tag);
    void writeData(Bytes data, double timeout, long tag);
    void disconnect();
    void disconnectAfterWriting();
    // The owner let go without asking for a close: close quietly, nobody is left to tell.
    void ownerGone();

    // Any thread.
    std::optional<std::string> connectedHost() const;
    std::uint16_t connectedPort() const;
    TcpSocketStats stats() const;

  private:
    enum class State { Idle, Connecting, Connected, Closed };

    struct Event {
        enum class Kind { Connected, Read, ReadPartial, Wrote, WritePartial, Disconnected };
        Kind kind{};
        long tag = 0;
        std::size_t length = 0;
        Bytes data{};
        std::string text{};  // host of Connected, error of Disconnected
        std::uint16_t port = 0;
    };

    using Kind = Event::Kind;

    struct ReadOp {
        std::size_t length = 0;
        double timeout = -1;
        long tag = 0;
        Bytes data{};  // sized when the first bytes arrive
        std::size_t filled = 0;
        bool timerStarted = false;

        std::size_t missing() const { return length - filled; }
        std::uint8_t* destination();
    };

    struct WriteOp {
        Bytes data{};
        double timeout = -1;
        long tag = 0;
        std::size_t done = 0;
        bool begun = false;
        std::chrono::steady_clock::time_point started{};
    };

    void becomeConnected();
    void onConnected(const boost::system::error_code& error);

    void pump();
    void schedulePump();
    void deliver(Event& event);
    bool serveHeadRead();
    void completeHeadRead();
    void startPendingIo();

    void armReadTimer();
    void startReceive();
    void onReceived(const boost::system::error_code& error, std::size_t count, bool direct);
    void onReadTimeout();

    void startSend();
    void onSent(const boost::system::error_code& error, std::size_t count);
    void onWriteTimeout();
    double askWriteExtension(const WriteOp& write);

    void close(const std::string& error);
    void shutDown();
    void dropTransferReports();

    std::shared_ptr<DispatchQueue> queue_;  // first: the asio objects below need its context
    std::weak_ptr<TcpConnectionDelegate> delegate_;
    std::weak_ptr<TcpConnection> handle_;
    std::shared_ptr<TcpConnection> retained_;  // while a close is being finished and reported
    boost::asio::ip::tcp::socket socket_;
    OperationTimer readTimer_;
    OperationTimer writeTimer_;
    ReceiveBuffer received_{kReceiveBufferSize};

    State state_ = State::Idle;
    bool closeAfterWriting_ = false;
    bool delivering_ = false;  // inside pump() or a delegate call
    bool pumpScheduled_ = false;
    bool receiving_ = false;
    bool sending_ = false;
    std::deque<ReadOp> reads_;
    std::deque<WriteOp> writes_;
    std::deque<Event> events_;

    mutable std::mutex remoteMutex_;
    std::optional<std::string> remoteHost_;
    std::uint16_t remotePort_ = 0;

    std::atomic<std::uint64_t> receiveCalls_{0};
    std::atomic<std::uint64_t> deferredPumps_{0};
};

}  // namespace velto

#pragma once

#include <array>
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

#include "core/UniqueFd.h"
#include "net/OperationTimer.h"
#include "net/ReceiveBuffer.h"
#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"

namespace velto {

// What the reads of one connection cost; for tests and benchmarks.
struct TcpSocketStats {
    std::uint64_t receiveCalls = 0;   // reads asked of the kernel
    std::uint64_t deferredPumps = 0;  // queue hops taken to deliver reports later
    std::uint64_t sendCalls = 0;      // writes asked of the kernel
};

// The working part of one TCP connection. Everything except the accessors marked "any thread"
// runs on the queue's thread. The AsyncTcpSocket in front of it owns it, and so do the handlers
// of its pending operations: a close after writing finishes after the owner let go.
//
// Reports are not delivered from inside the calls that cause them. They wait in events_ and
// pump() hands them out one at a time; while it runs, reads queued from inside a report are
// served from the receive buffer by the same loop, without a queue hop or a system call each.
//
// Small writes are staged the same way: one that fits in the staging area is copied there and
// reported complete at once, and everything staged during one pass of the loop goes to the
// kernel in one send. A stream of element headers and small bodies so costs a system call per
// few hundred kilobytes instead of one per write. Staged bytes keep their order with the
// writes queued behind them; a flush that makes no progress within the shortest time-out of
// the writes it carries closes the connection with an error (their completions were already
// reported, so there is nobody left to ask for an extension).
//
// Time-outs measure idleness, not duration: a read or write fails once no byte of it moved for
// its time-out, however long a slow but steady one takes.
//
// File bodies (readIntoFile, writeFromFile) go between the file and the socket inside the kernel:
// sendfile out of the file, splice through a pipe of the connection's own into it. Where the
// system refuses that for a file or socket (EINVAL, ENOSYS, EOPNOTSUPP), or VELTO_PLAIN_COPY=1
// asks for it, the connection copies them through its receive buffer and a window of
// kFileWindow bytes instead. A staged header that precedes a file body goes out with MSG_MORE,
// so the two leave in the same segments.
//
// The kernel is read only while a read is queued, so an idle connection notices the peer going
// away at its next read or write. Once a close is asked for, new reads and writes are ignored.
class TcpSocketCore : public std::enable_shared_from_this<TcpSocketCore> {
  public:
    static constexpr std::size_t kReceiveBufferSize = 64 * 1024;
    // A large read takes at most this much per system call, so that the delegate sees each
    // arrival (socketDidReadPartialBytes) while it is still in the processor's cache.
    static constexpr std::size_t kDirectReceiveMax = 256 * 1024;
    static constexpr std::size_t kStagedWriteMax = 64 * 1024;  // larger writes go out as they are
    static constexpr std::size_t kStagingCapacity = 256 * 1024;
    // Plain copies of file bodies go through a window this large; the kernel's moves take at
    // most this much per turn of the queue, so that other connections on it get their turn.
    static constexpr std::size_t kFileWindow = 256 * 1024;
    static constexpr std::size_t kFileTurn = 4 * 1024 * 1024;
    static constexpr std::size_t kPipeSize = 1024 * 1024;

    TcpSocketCore(std::shared_ptr<DispatchQueue> queue,
                  std::weak_ptr<TcpConnectionDelegate> delegate);
    // A connection a listener accepted: already connected, no delegate yet.
    TcpSocketCore(std::shared_ptr<DispatchQueue> queue, boost::asio::ip::tcp::socket accepted);

    // The object reports name as their socket; set once, before the core is shared.
    void attach(std::weak_ptr<TcpConnection> handle) { handle_ = std::move(handle); }

    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate);
    void connectToHost(const std::string& host, std::uint16_t port);
    void readDataToLength(std::size_t length, double timeout, long tag);
    void readDataToByte(std::uint8_t delimiter, std::size_t maxLength, double timeout, long tag);
    void writeData(Bytes data, double timeout, long tag);
    // file is the connection's own copy; when it is missing, openError says why.
    void readIntoFile(UniqueFd file, int openError, std::size_t length, double timeout, long tag);
    void writeFromFile(UniqueFd file, int openError, std::uint64_t offset, std::size_t length,
                       double timeout, long tag);
    void disconnect();
    void disconnectWithReset();
    void disconnectAfterWriting();
    void disconnectAfterDelivery(double timeout);
    // The owner let go without asking for a close: close quietly, nobody is left to tell.
    void ownerGone();

    // Any thread.
    std::optional<std::string> connectedHost() const;
    std::uint16_t connectedPort() const;
    TcpSocketStats stats() const;

  private:
    using Clock = std::chrono::steady_clock;
    enum class State { Idle, Connecting, Connected, Closed };

    struct Event {
        enum class Kind {
            Connected,
            Read,
            ReadPartial,
            Wrote,
            WritePartial,
            FileFailed,
            Disconnected
        };
        Kind kind{};
        long tag = 0;
        std::size_t length = 0;
        const std::uint8_t* bytes = nullptr;  // of ReadPartial, inside the head read's buffer
        Bytes data{};
        std::string text{};  // host of Connected, error of Disconnected
        std::uint16_t port = 0;
        int error = 0;  // of FileFailed
    };

    using Kind = Event::Kind;

    struct ReadOp {
        std::size_t length = 0;
        double timeout = -1;
        long tag = 0;
        Bytes data{};     // sized when the first bytes arrive; stays empty for a file's body
        UniqueFd file{};  // where the bytes go instead of data
        std::size_t filled = 0;
        bool timerStarted = false;
        int delimiter = -1;  // a byte that ends the read early, if any

        std::size_t missing() const { return length - filled; }
        std::uint8_t* destination();
    };

    struct WriteOp {
        Bytes data{};
        double timeout = -1;
        long tag = 0;
        std::size_t done = 0;
        UniqueFd file{};             // a body from this file instead of data
        std::uint64_t offset = 0;    // in the file, of the bytes after done
        std::size_t length = 0;      // of the file's body
        std::size_t windowSent = 0;  // of data, holding a window of the file in a plain copy
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
    // Copies count bytes of what has arrived into the read; completes says they finish it.
    void takeReceived(ReadOp& head, std::size_t count, bool completes);
    bool storeReceived(ReadOp& head, std::size_t count);
    void startSplice();
    void onSpliceReady(const boost::system::error_code& error);
    int drainPipe(int fd, std::size_t count);
    bool openPipe();
    void fileFailed(int error, long tag, bool reading);

    bool stage(Bytes& data, double timeout, long tag);
    void startSend();
    void startFlush();
    void onSent(const boost::system::error_code& error, std::size_t count);
    void startFileSend(WriteOp& head);
    void onFileWritable(const boost::system::error_code& error);
    void sendFileWindow(WriteOp& head);
    void headWrote(std::size_t count);
    void onWriteTimeout();
    void onFlushTimeout();
    bool restartIfMoved(OperationTimer& timer, Clock::time_point lastMoved, double timeout,
                        void (TcpSocketCore::*onExpiry)());
    bool allWritten() const;
    double askWriteExtension(const WriteOp& write);

    void allWrittenOut();
    void awaitPeerClose();
    void onPeerData(const boost::system::error_code& error);
    void checkDelivered();
    std::optional<std::size_t> unacknowledged();

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
    // A close after delivery: after the last byte, this side's end goes out, and the close is
    // clean only once the peer closed its end and acknowledged every byte without a reset.
    double deliveryTimeout_ = -1;  // negative: a plain close after writing
    bool peerClosed_ = false;
    std::size_t lastUnacknowledged_ = 0;
    std::array<std::uint8_t, 512> discarded_{};  // whatever the peer still sends then
    Clock::time_point readMoved_{};              // the last byte that arrived
    Clock::time_point writeMoved_{};             // the last byte that went out
    bool delivering_ = false;                    // inside pump() or a delegate call
    bool pumpScheduled_ = false;
    bool receiving_ = false;
    bool sending_ = false;
    std::deque<ReadOp> reads_;
    std::deque<WriteOp> writes_;
    std::deque<Event> events_;
    Bytes staged_;  // completed small writes waiting for the next flush
    double stagedTimeout_ = -1;
    Bytes flushing_;  // staged bytes being sent; staged_ fills meanwhile
    std::size_t flushed_ = 0;
    double flushTimeout_ = -1;
    bool sendingFlush_ = false;
    bool plainCopy_;     // file bodies through user space
    UniqueFd pipeRead_;  // of the splice into files
    UniqueFd pipeWrite_;
    std::size_t pipeCapacity_ = 0;

    mutable std::mutex remoteMutex_;
    std::optional<std::string> remoteHost_;
    std::uint16_t remotePort_ = 0;

    std::atomic<std::uint64_t> receiveCalls_{0};
    std::atomic<std::uint64_t> deferredPumps_{0};
    std::atomic<std::uint64_t> sendCalls_{0};
};

}  // namespace velto

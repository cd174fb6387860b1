#include "net/TcpSocketCore.h"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <cerrno>
#include <cstring>

#include <sys/ioctl.h>
#include <sys/socket.h>

#include "core/ChunkPool.h"
#include "core/DispatchQueueContext.h"
#include "net/Ipv4Text.h"
#include "velto/Diagnostics.h"

namespace velto {

namespace {

// How often a close after delivery looks at what the peer has acknowledged: while the kernel
// still sends, and once the peer has closed (then only the last acknowledgement is missing).
constexpr double kDeliveryPollSending = 0.1;
constexpr double kDeliveryPollClosed = 0.002;

std::string describe(const boost::system::error_code& error) {
    if (error == boost::asio::error::eof) {
        return "Connection closed by the peer";
    }
    return error.message();
}

}  // namespace

std::uint8_t* TcpSocketCore::ReadOp::destination() {
    if (data.size() != length) {
        data = ChunkPool::take(length);
    }
    return data.data() + filled;
}

TcpSocketCore::TcpSocketCore(std::shared_ptr<DispatchQueue> queue,
                             std::weak_ptr<TcpConnectionDelegate> delegate)
    : queue_(std::move(queue)),
      delegate_(std::move(delegate)),
      socket_(ioContextOf(*queue_)),
      readTimer_(ioContextOf(*queue_)),
      writeTimer_(ioContextOf(*queue_)) {}

TcpSocketCore::TcpSocketCore(std::shared_ptr<DispatchQueue> queue,
                             boost::asio::ip::tcp::socket accepted)
    : queue_(std::move(queue)),
      socket_(std::move(accepted)),
      readTimer_(ioContextOf(*queue_)),
      writeTimer_(ioContextOf(*queue_)) {
    becomeConnected();
}

void TcpSocketCore::setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void TcpSocketCore::connectToHost(const std::string& host, std::uint16_t port) {
    if (state_ != State::Idle) {
        diagnostic("connectToHost ignored: the socket is already in use");
        return;
    }
    state_ = State::Connecting;
    const auto address = parseIpv4(host);
    if (!address) {
        close("Not an IPv4 address: " + host);
        schedulePump();
        return;
    }
    socket_.async_connect(boost::asio::ip::tcp::endpoint(*address, port),
                          [self = shared_from_this()](const boost::system::error_code& error) {
                              self->onConnected(error);
                          });
}

void TcpSocketCore::onConnected(const boost::system::error_code& error) {
    if (state_ != State::Connecting) {
        return;  // closed meanwhile
    }
    if (error) {
        close(describe(error));
    } else {
        becomeConnected();
        const auto host = connectedHost();
        events_.push_back(
            {.kind = Kind::Connected, .text = host.value_or(""), .port = connectedPort()});
        allWrittenOut();
    }
    pump();
}

void TcpSocketCore::becomeConnected() {
    state_ = State::Connected;
    boost::system::error_code error;
    // Headers are small and go out one at a time; waiting to coalesce them only adds latency.
    socket_.set_option(boost::asio::ip::tcp::no_delay(true), error);
    const auto remote = socket_.remote_endpoint(error);
    if (!error) {
        std::lock_guard lock(remoteMutex_);
        remoteHost_ = remote.address().to_string();
        remotePort_ = remote.port();
    }
}

void TcpSocketCore::readDataToLength(std::size_t length, double timeout, long tag) {
    if (state_ == State::Closed || closeAfterWriting_) {
        return;
    }
    reads_.push_back({.length = length, .timeout = timeout, .tag = tag});
    schedulePump();
}

void TcpSocketCore::writeData(Bytes data, double timeout, long tag) {
    if (state_ == State::Closed || closeAfterWriting_) {
        return;
    }
    if (stage(data, timeout, tag)) {
        schedulePump();  // reports the completion, and sends, after this call
        return;
    }
    writes_.push_back({.data = std::move(data), .timeout = timeout, .tag = tag});
    startSend();
}

void TcpSocketCore::disconnect() {
    if (state_ == State::Closed) {
        return;
    }
    if (state_ == State::Idle) {
        reads_.clear();
        writes_.clear();
        return;
    }
    dropTransferReports();
    close("");
    schedulePump();
}

void TcpSocketCore::disconnectWithReset() {
    if (state_ == State::Connected) {
        // A linger time of 0 makes the close send a reset instead of an end of stream.
        const ::linger abortive{.l_onoff = 1, .l_linger = 0};
        ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    disconnect();
}

void TcpSocketCore::disconnectAfterWriting() {
    if (state_ != State::Connecting && state_ != State::Connected) {
        disconnect();
        return;
    }
    closeAfterWriting_ = true;
    retained_ = handle_.lock();
    if (state_ == State::Connected && allWritten()) {
        allWrittenOut();
        schedulePump();
    }
}

void TcpSocketCore::disconnectAfterDelivery(double timeout) {
    if (state_ == State::Connecting || state_ == State::Connected) {
        deliveryTimeout_ = timeout < 0 ? 0 : timeout;
    }
    disconnectAfterWriting();
}

void TcpSocketCore::ownerGone() {
    if (state_ == State::Closed) {
        return;
    }
    state_ = State::Closed;
    shutDown();
    events_.clear();
}

// Reports

void TcpSocketCore::pump() {
    if (delivering_) {
        return;  // the loop already running picks up whatever was added
    }
    const auto keepAlive = shared_from_this();  // a report may drop the last outside owner
    delivering_ = true;
    for (;;) {
        if (!events_.empty()) {
            Event event = std::move(events_.front());
            events_.pop_front();
            deliver(event);
        } else if (!serveHeadRead()) {
            break;
        }
    }
    delivering_ = false;
    startPendingIo();
}

void TcpSocketCore::schedulePump() {
    if (delivering_ || pumpScheduled_) {
        return;
    }
    pumpScheduled_ = true;
    deferredPumps_.fetch_add(1, std::memory_order_relaxed);
    boost::asio::post(ioContextOf(*queue_), [self = shared_from_this()] {
        self->pumpScheduled_ = false;
        self->pump();
    });
}

void TcpSocketCore::deliver(Event& event) {
    const auto handle = handle_.lock();
    const auto delegate = delegate_.lock();
    if (handle && delegate) {
        switch (event.kind) {
            case Kind::Connected:
                delegate->socketDidConnect(*handle, event.text, event.port);
                break;
            case Kind::Read:
                delegate->socketDidRead(*handle, std::move(event.data), event.tag);
                break;
            case Kind::ReadPartial:
                if (event.bytes != nullptr) {
                    delegate->socketDidReadPartialBytes(*handle, event.bytes, event.length,
                                                        event.tag);
                } else {
                    delegate->socketDidReadPartialData(*handle, event.length, event.tag);
                }
                break;
            case Kind::Wrote:
                delegate->socketDidWrite(*handle, event.tag);
                break;
            case Kind::WritePartial:
                delegate->socketDidWritePartialData(*handle, event.length, event.tag);
                break;
            case Kind::Disconnected:
                delegate->socketDidDisconnect(*handle, event.text);
                break;
        }
    }
    if (event.kind == Kind::Disconnected) {
        retained_.reset();
    }
}

void TcpSocketCore::dropTransferReports() {
    std::erase_if(events_, [](const Event& event) {
        return event.kind != Kind::Connected && event.kind != Kind::Disconnected;
    });
}

bool TcpSocketCore::serveHeadRead() {
    if (state_ != State::Connected || reads_.empty()) {
        return false;
    }
    ReadOp& head = reads_.front();
    const std::size_t count = std::min(received_.size(), head.missing());
    if (count > 0) {
        std::memcpy(head.destination(), received_.data(), count);
        received_.consume(count);
        head.filled += count;
    }
    if (head.missing() == 0) {
        completeHeadRead();
        return true;
    }
    if (count > 0) {
        events_.push_back({.kind = Kind::ReadPartial,
                           .tag = head.tag,
                           .length = count,
                           .bytes = head.data.data() + head.filled - count});
        return true;
    }
    return false;
}

void TcpSocketCore::completeHeadRead() {
    ReadOp& head = reads_.front();
    head.destination();  // sizes a read of 0 bytes too
    events_.push_back({.kind = Kind::Read, .tag = head.tag, .data = std::move(head.data)});
    reads_.pop_front();
    readTimer_.cancel();
}

void TcpSocketCore::startPendingIo() {
    if (state_ == State::Connected) {
        armReadTimer();
        startReceive();
        startSend();
    }
}

// Reading

void TcpSocketCore::armReadTimer() {
    if (reads_.empty() || reads_.front().timerStarted) {
        return;
    }
    ReadOp& head = reads_.front();
    head.timerStarted = true;
    readMoved_ = Clock::now();
    if (head.timeout >= 0) {
        readTimer_.start(head.timeout, [self = shared_from_this()] { self->onReadTimeout(); });
    }
}

void TcpSocketCore::startReceive() {
    // pump() has moved every buffered byte into the head read when this is reached.
    if (receiving_ || reads_.empty() || !received_.empty()) {
        return;
    }
    receiving_ = true;
    receiveCalls_.fetch_add(1, std::memory_order_relaxed);
    ReadOp& head = reads_.front();
    // A large read takes its bytes straight into its own buffer: no copy for a body chunk.
    const bool direct = head.missing() >= received_.capacity();
    const auto target = direct ? boost::asio::buffer(head.destination(),
                                                     std::min(head.missing(), kDirectReceiveMax))
                               : received_.freeSpace();
    socket_.async_read_some(target, [self = shared_from_this(), direct](
                                        const boost::system::error_code& error, std::size_t count) {
        self->onReceived(error, count, direct);
    });
}

void TcpSocketCore::onReceived(const boost::system::error_code& error, std::size_t count,
                               bool direct) {
    receiving_ = false;
    if (state_ == State::Closed) {
        reads_.clear();  // kept until now: the kernel could still have been writing into one
        return;
    }
    if (count > 0) {
        readMoved_ = Clock::now();
    }
    if (error) {
        close(describe(error));
    } else if (direct) {
        ReadOp& head = reads_.front();
        head.filled += count;
        if (head.missing() == 0) {
            completeHeadRead();
        } else {
            events_.push_back({.kind = Kind::ReadPartial,
                               .tag = head.tag,
                               .length = count,
                               .bytes = head.data.data() + head.filled - count});
        }
    } else {
        received_.commit(count);
    }
    pump();
}

void TcpSocketCore::onReadTimeout() {
    if (state_ != State::Connected || reads_.empty() ||
        restartIfMoved(readTimer_, readMoved_, reads_.front().timeout,
                       &TcpSocketCore::onReadTimeout)) {
        return;
    }
    close("Read operation timed out");
    pump();
}

bool TcpSocketCore::restartIfMoved(OperationTimer& timer, Clock::time_point lastMoved,
                                   double timeout, void (TcpSocketCore::*onExpiry)()) {
    const double idle = std::chrono::duration<double>(Clock::now() - lastMoved).count();
    if (idle >= timeout) {
        return false;
    }
    timer.start(timeout - idle, [self = shared_from_this(), onExpiry] { (*self.*onExpiry)(); });
    return true;
}

// Writing

bool TcpSocketCore::stage(Bytes& data, double timeout, long tag) {
    // Behind a queued write a small one waits its turn like any other.
    if (state_ != State::Connected || !writes_.empty() || data.size() > kStagedWriteMax ||
        staged_.size() + data.size() > kStagingCapacity) {
        return false;
    }
    if (staged_.capacity() < kStagingCapacity) {
        staged_.reserve(kStagingCapacity);
    }
    staged_.insert(staged_.end(), data.begin(), data.end());
    if (timeout >= 0 && (stagedTimeout_ < 0 || timeout < stagedTimeout_)) {
        stagedTimeout_ = timeout;
    }
    events_.push_back({.kind = Kind::Wrote, .tag = tag});
    return true;
}

bool TcpSocketCore::allWritten() const {
    return writes_.empty() && staged_.empty() && flushed_ == flushing_.size();
}

void TcpSocketCore::startSend() {
    if (state_ != State::Connected || sending_) {
        return;
    }
    // Staged bytes were written before anything still queued.
    if (!staged_.empty() || flushed_ < flushing_.size()) {
        startFlush();
        return;
    }
    if (writes_.empty()) {
        return;
    }
    WriteOp& head = writes_.front();
    if (!head.begun) {
        head.begun = true;
        head.started = Clock::now();
        writeMoved_ = head.started;
        if (head.timeout >= 0) {
            writeTimer_.start(head.timeout,
                              [self = shared_from_this()] { self->onWriteTimeout(); });
        }
    }
    sending_ = true;
    sendCalls_.fetch_add(1, std::memory_order_relaxed);
    socket_.async_write_some(
        boost::asio::buffer(head.data.data() + head.done, head.data.size() - head.done),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t count) {
            self->onSent(error, count);
        });
}

void TcpSocketCore::startFlush() {
    if (flushed_ == flushing_.size()) {
        flushing_.clear();
        std::swap(flushing_, staged_);  // staged_ keeps filling in the other buffer
        flushed_ = 0;
        flushTimeout_ = std::exchange(stagedTimeout_, -1);
        writeMoved_ = Clock::now();
        if (flushTimeout_ >= 0) {
            writeTimer_.start(flushTimeout_,
                              [self = shared_from_this()] { self->onFlushTimeout(); });
        }
    }
    sending_ = true;
    sendingFlush_ = true;
    sendCalls_.fetch_add(1, std::memory_order_relaxed);
    socket_.async_write_some(
        boost::asio::buffer(flushing_.data() + flushed_, flushing_.size() - flushed_),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t count) {
            self->onSent(error, count);
        });
}

void TcpSocketCore::onFlushTimeout() {
    if (state_ != State::Connected || flushed_ == flushing_.size() ||
        restartIfMoved(writeTimer_, writeMoved_, flushTimeout_, &TcpSocketCore::onFlushTimeout)) {
        return;
    }
    close("Write operation timed out");
    pump();
}

void TcpSocketCore::onSent(const boost::system::error_code& error, std::size_t count) {
    sending_ = false;
    const bool flush = std::exchange(sendingFlush_, false);
    if (state_ == State::Closed) {
        // Kept until now: the send could still have been reading from them.
        writes_.clear();
        flushing_.clear();
        flushed_ = 0;
        return;
    }
    if (error) {
        close(describe(error));
        pump();
        return;
    }
    if (count > 0) {
        writeMoved_ = Clock::now();
    }
    if (flush) {
        flushed_ += count;
        if (flushed_ == flushing_.size()) {
            writeTimer_.cancel();
            allWrittenOut();
        }
        pump();  // goes on with the rest, what was staged meanwhile, or the queued writes
        return;
    }
    WriteOp& head = writes_.front();
    head.done += count;
    if (head.done < head.data.size()) {
        events_.push_back({.kind = Kind::WritePartial, .tag = head.tag, .length = count});
    } else {
        events_.push_back({.kind = Kind::Wrote, .tag = head.tag});
        ChunkPool::give(std::move(head.data));
        writes_.pop_front();
        writeTimer_.cancel();
        allWrittenOut();
    }
    pump();
}

void TcpSocketCore::onWriteTimeout() {
    pump();  // reports of earlier events go first
    if (state_ != State::Connected || writes_.empty() ||
        restartIfMoved(writeTimer_, writeMoved_, writes_.front().timeout,
                       &TcpSocketCore::onWriteTimeout)) {
        return;
    }
    const double extension = askWriteExtension(writes_.front());
    if (state_ == State::Connected && !writes_.empty()) {
        if (extension > 0) {
            writeTimer_.start(extension, [self = shared_from_this()] { self->onWriteTimeout(); });
        } else {
            close("Write operation timed out");
        }
    }
    pump();
}

double TcpSocketCore::askWriteExtension(const WriteOp& write) {
    const auto handle = handle_.lock();
    const auto delegate = delegate_.lock();
    if (!handle || !delegate) {
        return 0;
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - write.started).count();
    delivering_ = true;  // what the delegate asks for now takes effect after it answers
    const double extension =
        delegate->socketShouldTimeoutWrite(*handle, write.tag, elapsed, write.done);
    delivering_ = false;
    return extension;
}

// Closing

void TcpSocketCore::allWrittenOut() {
    if (!closeAfterWriting_ || !allWritten()) {
        return;
    }
    if (deliveryTimeout_ < 0) {
        close("");
        return;
    }
    boost::system::error_code error;
    socket_.shutdown(boost::asio::ip::tcp::socket::shutdown_send, error);
    if (error) {
        close(describe(error));
        return;
    }
    writeMoved_ = Clock::now();
    lastUnacknowledged_ = unacknowledged().value_or(0);
    awaitPeerClose();
    checkDelivered();
}

// A peer that closes having read everything ends its side with a FIN; one that closes with
// bytes unread, or that was gone when they came, answers with a reset instead.
void TcpSocketCore::awaitPeerClose() {
    socket_.async_read_some(boost::asio::buffer(discarded_),
                            [self = shared_from_this()](const boost::system::error_code& error,
                                                        std::size_t) { self->onPeerData(error); });
}

void TcpSocketCore::onPeerData(const boost::system::error_code& error) {
    if (state_ != State::Connected) {
        return;
    }
    if (error == boost::asio::error::eof) {
        peerClosed_ = true;
        checkDelivered();
    } else if (error) {
        close(describe(error));
    } else {
        awaitPeerClose();  // the stream has no answer; whatever comes is dropped
    }
    pump();
}

void TcpSocketCore::checkDelivered() {
    if (state_ != State::Connected) {
        return;
    }
    int pending = 0;
    socklen_t length = sizeof pending;
    if (::getsockopt(socket_.native_handle(), SOL_SOCKET, SO_ERROR, &pending, &length) == 0 &&
        pending != 0) {
        close(std::strerror(pending));
        return;
    }
    const auto left = unacknowledged();
    if (!left) {
        close(std::string("Cannot tell what the peer received: ") + std::strerror(errno));
        return;
    }
    if (*left < lastUnacknowledged_) {
        writeMoved_ = Clock::now();
    }
    lastUnacknowledged_ = *left;
    if (peerClosed_ && *left == 0) {
        close("");
        return;
    }
    const double idle = std::chrono::duration<double>(Clock::now() - writeMoved_).count();
    if (idle >= deliveryTimeout_) {
        close(peerClosed_ ? "The peer closed without acknowledging every byte"
                          : "The peer did not close the connection after the last byte");
        return;
    }
    writeTimer_.start(
        std::min(peerClosed_ ? kDeliveryPollClosed : kDeliveryPollSending, deliveryTimeout_ - idle),
        [self = shared_from_this()] {
            self->checkDelivered();
            self->pump();
        });
}

// Bytes written to the kernel that the peer has not acknowledged yet (this side's FIN counts
// as one).
std::optional<std::size_t> TcpSocketCore::unacknowledged() {
    int count = 0;
    if (::ioctl(socket_.native_handle(), TIOCOUTQ, &count) != 0 || count < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(count);
}

void TcpSocketCore::close(const std::string& error) {
    if (state_ == State::Closed) {
        return;
    }
    state_ = State::Closed;
    shutDown();
    events_.push_back({.kind = Kind::Disconnected, .text = error});
    retained_ = handle_.lock();  // the report still needs the socket its delegate knows
}

void TcpSocketCore::shutDown() {
    boost::system::error_code ignored;
    socket_.close(ignored);
    readTimer_.cancel();
    writeTimer_.cancel();
    received_.clear();
    closeAfterWriting_ = false;
    for (Event& event : events_) {
        event.bytes = nullptr;  // the reads' buffers may go now
    }
    if (!receiving_) {
        reads_.clear();
    }
    staged_.clear();
    stagedTimeout_ = -1;
    if (!sending_) {
        writes_.clear();
        flushing_.clear();
        flushed_ = 0;
    }
    std::lock_guard lock(remoteMutex_);
    remoteHost_.reset();
    remotePort_ = 0;
}

// Any thread

std::optional<std::string> TcpSocketCore::connectedHost() const {
    std::lock_guard lock(remoteMutex_);
    return remoteHost_;
}

std::uint16_t TcpSocketCore::connectedPort() const {
    std::lock_guard lock(remoteMutex_);
    return remotePort_;
}

TcpSocketStats TcpSocketCore::stats() const {
    return {receiveCalls_.load(std::memory_order_relaxed),
            deferredPumps_.load(std::memory_order_relaxed),
            sendCalls_.load(std::memory_order_relaxed)};
}

}  // namespace velto

#include "net/TcpSocketCore.h"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
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

// The system cannot move bytes between these two descriptors inside the kernel.
bool cannotMoveInKernel(int error) {
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Errors of sendfile that are the connection's rather than the file's.
bool connectionError(int error) {
    return error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == ETIMEDOUT ||
           error == ECONNABORTED || error == EHOSTUNREACH || error == ENETUNREACH ||
           error == ENETDOWN;
}

// Writes all of bytes to fd; 0, or the error that stopped it.
int writeAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Drops the operations of a queue but the head when the system may still be working on it.
template <typename Queue>
void dropIdle(Queue& queue, bool headBusy) {
    const auto keep = headBusy && !queue.empty() ? 1 : 0;
    queue.erase(queue.begin() + keep, queue.end());
}

bool plainCopyAsked() {
    const char* text = std::getenv("VELTO_PLAIN_COPY");
    return text != nullptr && std::string_view(text) == "1";
}

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
      writeTimer_(ioContextOf(*queue_)),
      plainCopy_(plainCopyAsked()) {}

TcpSocketCore::TcpSocketCore(std::shared_ptr<DispatchQueue> queue,
                             boost::asio::ip::tcp::socket accepted)
    : queue_(std::move(queue)),
      socket_(std::move(accepted)),
      readTimer_(ioContextOf(*queue_)),
      writeTimer_(ioContextOf(*queue_)),
      plainCopy_(plainCopyAsked()) {
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
    socket_.native_non_blocking(true, error);  // for the kernel's moves of file bodies
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

void TcpSocketCore::readDataToByte(std::uint8_t delimiter, std::size_t maxLength, double timeout,
                                   long tag) {
    if (state_ == State::Closed || closeAfterWriting_) {
        return;
    }
    reads_.push_back({.length = maxLength, .timeout = timeout, .tag = tag, .delimiter = delimiter});
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

void TcpSocketCore::readIntoFile(UniqueFd file, int openError, std::size_t length, double timeout,
                                 long tag) {
    if (state_ == State::Closed || closeAfterWriting_) {
        return;
    }
    if (!file) {
        fileFailed(openError, tag, true);
        schedulePump();
        return;
    }
    reads_.push_back({.length = length, .timeout = timeout, .tag = tag, .file = std::move(file)});
    schedulePump();
}

void TcpSocketCore::writeFromFile(UniqueFd file, int openError, std::uint64_t offset,
                                  std::size_t length, double timeout, long tag) {
    if (state_ == State::Closed || closeAfterWriting_) {
        return;
    }
    if (!file || length == 0) {
        if (file) {
            events_.push_back({.kind = Kind::Wrote, .tag = tag});
        } else {
            fileFailed(openError, tag, false);
        }
        schedulePump();
        return;
    }
    writes_.push_back({.timeout = timeout,
                       .tag = tag,
                       .file = std::move(file),
                       .offset = offset,
                       .length = length});
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
            case Kind::FileFailed:
                delegate->socketDidFailFile(*handle, event.error, event.tag);
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
    std::size_t count = std::min(received_.size(), head.missing());
    if (head.delimiter >= 0 && count > 0) {
        const auto* end =
            static_cast<const std::uint8_t*>(std::memchr(received_.data(), head.delimiter, count));
        if (end != nullptr) {
            count = static_cast<std::size_t>(end - received_.data()) + 1;
            takeReceived(head, count, true);
            head.data.resize(head.filled + count);
            head.length = head.filled + count;  // complete with the delimiter
            received_.consume(count);
            head.filled += count;
            completeHeadRead();
            return true;
        }
    }
    if (count > 0) {
        if (head.file) {
            if (!storeReceived(head, count)) {
                return true;  // the failure is the next report
            }
        } else {
            takeReceived(head, count, count == head.missing());
        }
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
                           .bytes = head.file ? nullptr : head.data.data() + head.filled - count});
        return true;
    }
    return false;
}

// A small read served whole from what has arrived is copied into a buffer of its own size: a
// name read up to its terminating zero would otherwise fill its whole limit with zeros first,
// and a small body its length.
void TcpSocketCore::takeReceived(ReadOp& head, std::size_t count, bool completes) {
    if (completes && head.filled == 0 && head.data.empty() &&
        head.length < ChunkPool::minPooledSize) {
        head.data.assign(received_.data(), received_.data() + count);
        return;
    }
    std::memcpy(head.destination(), received_.data(), count);
}

bool TcpSocketCore::storeReceived(ReadOp& head, std::size_t count) {
    if (const int error = writeAll(head.file.get(), received_.data(), count); error != 0) {
        fileFailed(error, head.tag, true);
        return false;
    }
    return true;
}

void TcpSocketCore::fileFailed(int error, long tag, bool reading) {
    events_.push_back({.kind = Kind::FileFailed, .tag = tag, .error = error});
    // Nothing queued behind the body may move: its bytes would be taken for what follows it.
    if (reading) {
        dropIdle(reads_, receiving_);
        readTimer_.cancel();
    } else {
        dropIdle(writes_, sending_);
        staged_.clear();
        writeTimer_.cancel();
    }
}

void TcpSocketCore::completeHeadRead() {
    ReadOp& head = reads_.front();
    if (!head.file) {
        head.destination();  // sizes a read of 0 bytes too
    }
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
    ReadOp& head = reads_.front();
    // Small bodies come with their neighbours through the receive buffer instead.
    if (head.file && head.missing() >= received_.capacity() && !plainCopy_ && openPipe()) {
        startSplice();
        return;
    }
    receiving_ = true;
    receiveCalls_.fetch_add(1, std::memory_order_relaxed);
    // A large read takes its bytes straight into its own buffer: no copy for a body chunk.
    const bool direct = !head.file && head.missing() >= received_.capacity();
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

bool TcpSocketCore::openPipe() {
    if (pipeRead_) {
        return true;
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        diagnostic("no pipe for received files, copying them:", std::strerror(errno));
        plainCopy_ = true;
        return false;
    }
    pipeRead_.reset(ends[0]);
    pipeWrite_.reset(ends[1]);
    // A larger pipe moves more per system call; the system may refuse, then its size stays.
    const int size = ::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kPipeSize));
    pipeCapacity_ = static_cast<std::size_t>(size > 0 ? size : ::fcntl(ends[1], F_GETPIPE_SZ));
    if (pipeCapacity_ == 0 || pipeCapacity_ > kPipeSize) {
        pipeCapacity_ = 64 * 1024;
    }
    return true;
}

void TcpSocketCore::startSplice() {
    receiving_ = true;
    socket_.async_wait(boost::asio::ip::tcp::socket::wait_read,
                       [self = shared_from_this()](const boost::system::error_code& error) {
                           self->onSpliceReady(error);
                       });
}

// Moves what the socket holds of the head read's body into its file, through the pipe, until
// the socket has no more for now, the body is complete or this turn's share is used up.
void TcpSocketCore::onSpliceReady(const boost::system::error_code& error) {
    receiving_ = false;
    if (state_ == State::Closed) {
        reads_.clear();
        return;
    }
    if (error) {
        close(describe(error));
        pump();
        return;
    }
    ReadOp& head = reads_.front();
    const long tag = head.tag;
    std::size_t moved = 0;
    std::string closing;
    int fileError = -1;
    while (head.missing() > 0 && moved < kFileTurn && !plainCopy_) {
        const ssize_t n =
            ::splice(socket_.native_handle(), nullptr, pipeWrite_.get(), nullptr,
                     std::min(head.missing(), pipeCapacity_), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (n > 0) {
            receiveCalls_.fetch_add(1, std::memory_order_relaxed);
            fileError = drainPipe(head.file.get(), static_cast<std::size_t>(n));
            if (fileError != 0) {
                break;
            }
            fileError = -1;
            head.filled += static_cast<std::size_t>(n);
            moved += static_cast<std::size_t>(n);
        } else if (n == 0) {
            closing = describe(boost::asio::error::eof);
            break;
        } else if (errno != EINTR) {
            if (errno == EAGAIN) {
                break;
            }
            if (cannotMoveInKernel(errno)) {
                diagnostic("the socket cannot splice, copying received files");
                plainCopy_ = true;
                break;
            }
            closing = std::strerror(errno);
            break;
        }
    }
    if (moved > 0) {
        readMoved_ = Clock::now();
        if (head.missing() == 0) {
            completeHeadRead();
        } else {
            events_.push_back({.kind = Kind::ReadPartial, .tag = tag, .length = moved});
        }
    }
    if (fileError > 0) {
        fileFailed(fileError, tag, true);
    } else if (!closing.empty()) {
        close(closing);
    }
    pump();
}

// Empties count bytes of the pipe into fd; 0, or the error that stopped it.
int TcpSocketCore::drainPipe(int fd, std::size_t count) {
    while (count > 0 && !plainCopy_) {
        const ssize_t n = ::splice(pipeRead_.get(), nullptr, fd, nullptr, count, SPLICE_F_MOVE);
        if (n > 0) {
            count -= static_cast<std::size_t>(n);
        } else if (n == 0) {
            return EIO;
        } else if (cannotMoveInKernel(errno)) {
            diagnostic("the file cannot take a splice, copying received files");
            plainCopy_ = true;
        } else if (errno != EINTR) {
            return errno;
        }
    }
    // The file system cannot take a splice: what the pipe still holds goes through user space.
    std::array<std::uint8_t, 16 * 1024> window{};
    while (count > 0) {
        const ssize_t got = ::read(pipeRead_.get(), window.data(), std::min(count, window.size()));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return EIO;
        }
        if (const int error = writeAll(fd, window.data(), static_cast<std::size_t>(got));
            error != 0) {
            return error;
        }
        count -= static_cast<std::size_t>(got);
    }
    return 0;
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
    if (head.file) {
        startFileSend(head);
        return;
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
    // A header right before a file's body waits for its first bytes, to leave with them.
    const bool bodyFollows = !writes_.empty() && writes_.front().file;
    socket_.async_send(
        boost::asio::buffer(flushing_.data() + flushed_, flushing_.size() - flushed_),
        bodyFollows ? MSG_MORE : 0,
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
    head.windowSent += count;
    headWrote(count);
    pump();
}

void TcpSocketCore::headWrote(std::size_t count) {
    WriteOp& head = writes_.front();
    head.done += count;
    if (head.done < (head.file ? head.length : head.data.size())) {
        if (count > 0) {
            events_.push_back({.kind = Kind::WritePartial, .tag = head.tag, .length = count});
        }
        return;
    }
    events_.push_back({.kind = Kind::Wrote, .tag = head.tag});
    ChunkPool::give(std::move(head.data));
    writes_.pop_front();
    writeTimer_.cancel();
    allWrittenOut();
}

void TcpSocketCore::startFileSend(WriteOp& head) {
    sending_ = true;
    if (plainCopy_) {
        sendFileWindow(head);
        return;
    }
    socket_.async_wait(boost::asio::ip::tcp::socket::wait_write,
                       [self = shared_from_this()](const boost::system::error_code& error) {
                           self->onFileWritable(error);
                       });
}

// Hands the kernel as much of the head write's file as the socket takes for now, up to this
// turn's share.
void TcpSocketCore::onFileWritable(const boost::system::error_code& error) {
    sending_ = false;
    if (state_ == State::Closed) {
        writes_.clear();
        return;
    }
    if (error) {
        close(describe(error));
        pump();
        return;
    }
    WriteOp& head = writes_.front();
    const long tag = head.tag;
    std::size_t moved = 0;
    std::string closing;
    int fileError = -1;
    while (head.done + moved < head.length && moved < kFileTurn && !plainCopy_) {
        auto offset = static_cast<off_t>(head.offset);
        const ssize_t n = ::sendfile(socket_.native_handle(), head.file.get(), &offset,
                                     std::min(head.length - head.done - moved, kFileTurn - moved));
        if (n > 0) {
            sendCalls_.fetch_add(1, std::memory_order_relaxed);
            head.offset += static_cast<std::uint64_t>(n);
            moved += static_cast<std::size_t>(n);
        } else if (n == 0) {
            fileError = 0;  // the file ended before its body did
            break;
        } else if (errno == EAGAIN) {
            break;
        } else if (cannotMoveInKernel(errno)) {
            diagnostic("this file cannot be sent by the system, copying it");
            plainCopy_ = true;
        } else if (connectionError(errno)) {
            closing = std::strerror(errno);
            break;
        } else if (errno != EINTR) {
            fileError = errno;
            break;
        }
    }
    if (moved > 0) {
        writeMoved_ = Clock::now();
        headWrote(moved);
    }
    if (fileError >= 0) {
        fileFailed(fileError, tag, false);
    } else if (!closing.empty()) {
        close(closing);
    }
    pump();
}

// A plain copy: the next window of the file is read once the last one is out, then sent.
void TcpSocketCore::sendFileWindow(WriteOp& head) {
    if (head.windowSent == head.data.size()) {
        const std::size_t wanted = std::min(kFileWindow, head.length - head.done);
        if (head.data.capacity() < wanted) {
            head.data = ChunkPool::take(kFileWindow);
        }
        head.data.resize(wanted);
        std::size_t got = 0;
        while (got < wanted) {
            const ssize_t n = ::pread(head.file.get(), head.data.data() + got, wanted - got,
                                      static_cast<off_t>(head.offset + got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                sending_ = false;
                fileFailed(n < 0 ? errno : 0, head.tag, false);
                schedulePump();
                return;
            }
            got += static_cast<std::size_t>(n);
        }
        head.offset += got;
        head.windowSent = 0;
    }
    sendCalls_.fetch_add(1, std::memory_order_relaxed);
    socket_.async_write_some(
        boost::asio::buffer(head.data.data() + head.windowSent, head.data.size() - head.windowSent),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t count) {
            self->onSent(error, count);
        });
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
    pipeRead_.reset();
    pipeWrite_.reset();
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

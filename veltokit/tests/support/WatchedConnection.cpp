#include "support/WatchedConnection.h"

#include <algorithm>
#include <chrono>

namespace velto::test {

std::shared_ptr<WatchedConnection> WatchedConnection::create(std::shared_ptr<DispatchQueue> queue,
                                                             double timeScale) {
    std::shared_ptr<WatchedConnection> front(new WatchedConnection(timeScale));
    front->socket_ = AsyncTcpSocket::create(front, std::move(queue));
    return front;
}

std::shared_ptr<TcpConnectionDelegate> WatchedConnection::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void WatchedConnection::setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void WatchedConnection::connectToHost(const std::string& host, std::uint16_t port) {
    socket_->connectToHost(host, port);
}

void WatchedConnection::noteRead(long tag, std::size_t length) {
    std::lock_guard lock(mutex_);
    notes_.reads.emplace_back(tag, length);
    notes_.maxReadsInFlight = std::max(notes_.maxReadsInFlight, ++readsInFlight_);
}

void WatchedConnection::noteWrite(long tag, std::size_t length) {
    std::lock_guard lock(mutex_);
    notes_.writes.emplace_back(tag, length);
    notes_.maxWritesInFlight = std::max(notes_.maxWritesInFlight, ++writesInFlight_);
}

void WatchedConnection::readDataToLength(std::size_t length, double timeout, long tag) {
    noteRead(tag, length);
    socket_->readDataToLength(length, scaled(timeout), tag);
}

void WatchedConnection::readDataToByte(std::uint8_t delimiter, std::size_t maxLength,
                                       double timeout, long tag) {
    noteRead(tag, maxLength);
    socket_->readDataToByte(delimiter, maxLength, scaled(timeout), tag);
}

void WatchedConnection::writeData(Bytes data, double timeout, long tag) {
    noteWrite(tag, data.size());
    socket_->writeData(std::move(data), scaled(timeout), tag);
}

void WatchedConnection::writeFromFile(int fd, std::uint64_t offset, std::uint64_t length,
                                      double timeout, long tag) {
    noteWrite(tag, static_cast<std::size_t>(length));
    socket_->writeFromFile(fd, offset, length, scaled(timeout), tag);
}

void WatchedConnection::readIntoFile(int fd, std::uint64_t length, double timeout, long tag) {
    noteRead(tag, static_cast<std::size_t>(length));
    socket_->readIntoFile(fd, length, scaled(timeout), tag);
}

void WatchedConnection::socketDidConnect(TcpConnection&, const std::string& host,
                                         std::uint16_t port) {
    {
        std::lock_guard lock(mutex_);
        isConnected_ = true;
    }
    connected_.notify_all();
    if (auto target = delegate()) {
        target->socketDidConnect(*this, host, port);
    }
}

void WatchedConnection::socketDidRead(TcpConnection&, Bytes data, long tag) {
    {
        std::lock_guard lock(mutex_);
        --readsInFlight_;
    }
    if (auto target = delegate()) {
        target->socketDidRead(*this, std::move(data), tag);
    }
}

void WatchedConnection::socketDidReadPartialData(TcpConnection&, std::size_t length, long tag) {
    {
        std::lock_guard lock(mutex_);
        notes_.partialBytesRead += length;
    }
    if (auto target = delegate()) {
        target->socketDidReadPartialData(*this, length, tag);
    }
}

void WatchedConnection::socketDidReadPartialBytes(TcpConnection&, const std::uint8_t* bytes,
                                                  std::size_t length, long tag) {
    {
        std::lock_guard lock(mutex_);
        notes_.partialBytesRead += length;
    }
    if (auto target = delegate()) {
        target->socketDidReadPartialBytes(*this, bytes, length, tag);
    }
}

void WatchedConnection::socketDidWrite(TcpConnection&, long tag) {
    {
        std::lock_guard lock(mutex_);
        --writesInFlight_;
    }
    if (auto target = delegate()) {
        target->socketDidWrite(*this, tag);
    }
}

void WatchedConnection::socketDidWritePartialData(TcpConnection&, std::size_t length, long tag) {
    if (auto target = delegate()) {
        target->socketDidWritePartialData(*this, length, tag);
    }
}

double WatchedConnection::socketShouldTimeoutWrite(TcpConnection&, long tag, double elapsed,
                                                   std::size_t bytesDone) {
    auto target = delegate();
    const double extension =
        target ? target->socketShouldTimeoutWrite(*this, tag, elapsed / timeScale_, bytesDone) : 0;
    std::lock_guard lock(mutex_);
    notes_.writeTimeoutAnswers.push_back(extension);
    return scaled(extension);
}

void WatchedConnection::socketDidFailFile(TcpConnection&, int error, long tag) {
    if (auto target = delegate()) {
        target->socketDidFailFile(*this, error, tag);
    }
}

void WatchedConnection::socketDidDisconnect(TcpConnection&, const std::string& error) {
    if (auto target = delegate()) {
        target->socketDidDisconnect(*this, error);
    }
}

bool WatchedConnection::waitUntilConnected() {
    std::unique_lock lock(mutex_);
    return connected_.wait_for(lock, std::chrono::seconds(30), [&] { return isConnected_; });
}

WatchedConnection::Notes WatchedConnection::notes() const {
    std::lock_guard lock(mutex_);
    return notes_;
}

}  // namespace velto::test

#include "support/MemoryConnection.h"

#include <algorithm>

namespace velto::test {

std::shared_ptr<MemoryConnection> MemoryConnection::create(std::shared_ptr<const Bytes> incoming,
                                                           std::size_t pieceSize,
                                                           std::shared_ptr<DispatchQueue> queue,
                                                           std::string remoteHost) {
    return std::shared_ptr<MemoryConnection>(new MemoryConnection(
        std::move(incoming), pieceSize, std::move(queue), std::move(remoteHost)));
}

std::shared_ptr<MemoryConnection> MemoryConnection::idle(std::string remoteHost) {
    return create(std::make_shared<const Bytes>(), 1, nullptr, std::move(remoteHost));
}

MemoryConnection::MemoryConnection(std::shared_ptr<const Bytes> incoming, std::size_t pieceSize,
                                   std::shared_ptr<DispatchQueue> queue, std::string remoteHost)
    : pieceSize_(pieceSize),
      queue_(std::move(queue)),
      remoteHost_(std::move(remoteHost)),
      incoming_(std::move(incoming)) {}

void MemoryConnection::setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void MemoryConnection::connectToHost(const std::string& /*host*/, std::uint16_t /*port*/) {
    connectPending_ = true;
    schedule();
}

void MemoryConnection::readDataToLength(std::size_t length, double /*timeout*/, long tag) {
    if (!closed_) {
        reads_.push_back({length, tag});
        maxReadsInFlight_ = std::max(maxReadsInFlight_, reads_.size());
        schedule();
    }
}

void MemoryConnection::readDataToByte(std::uint8_t delimiter, std::size_t maxLength,
                                      double /*timeout*/, long tag) {
    if (!closed_) {
        reads_.push_back({maxLength, tag, delimiter});
        maxReadsInFlight_ = std::max(maxReadsInFlight_, reads_.size());
        schedule();
    }
}

void MemoryConnection::writeData(Bytes data, double /*timeout*/, long tag) {
    if (!closed_) {
        writes_.push_back({data.size(), tag});
        if (writeSink_) {
            writeSink_(std::move(data));
        }
        schedule();
    }
}

void MemoryConnection::disconnect() {
    if (!closed_) {
        closed_ = true;
        disconnectPending_ = true;
        reads_.clear();
        writes_.clear();
        schedule();
    }
}

void MemoryConnection::disconnectAfterWriting() {
    disconnect();  // writes are taken at once, so none is left to wait for
}

std::optional<std::string> MemoryConnection::connectedHost() const {
    return closed_ || remoteHost_.empty() ? std::nullopt : std::optional(remoteHost_);
}

void MemoryConnection::schedule() {
    if (!queue_ || delivering_ || scheduled_) {
        return;
    }
    scheduled_ = true;
    queue_->async([self = shared_from_this()] {
        self->scheduled_ = false;
        self->pump();
    });
}

void MemoryConnection::pump() {
    const auto delegate = delegate_.lock();
    if (!delegate || delivering_) {
        return;
    }
    delivering_ = true;
    for (;;) {
        if (connectPending_) {
            connectPending_ = false;
            delegate->socketDidConnect(*this, remoteHost_, 4644);
        } else if (serveWrite(*delegate) || serveRead(*delegate)) {
            continue;
        } else if (disconnectPending_) {
            disconnectPending_ = false;
            delegate->socketDidDisconnect(*this, "");
        } else {
            break;
        }
    }
    delivering_ = false;
}

bool MemoryConnection::serveWrite(TcpConnectionDelegate& delegate) {
    if (writes_.empty()) {
        return false;
    }
    const Operation head = writes_.front();
    const std::size_t pass = std::min(pieceSize_, head.length - headWritten_);
    headWritten_ += pass;
    bytesWritten_ += pass;
    if (headWritten_ == head.length) {
        writes_.pop_front();
        headWritten_ = 0;
        delegate.socketDidWrite(*this, head.tag);
    } else {
        delegate.socketDidWritePartialData(*this, pass, head.tag);
    }
    return true;
}

bool MemoryConnection::serveRead(TcpConnectionDelegate& delegate) {
    if (reads_.empty() || closed_) {
        return false;
    }
    const Operation head = reads_.front();
    if (position_ == incoming_->size() && headData_.size() < head.length) {
        closed_ = true;
        reads_.clear();
        delegate.socketDidDisconnect(*this, "end of stream");
        return true;
    }
    std::size_t count =
        std::min({pieceSize_, head.length - headData_.size(), incoming_->size() - position_});
    if (headData_.empty()) {
        headData_.reserve(head.length);  // sized once, as the real socket does
    }
    const auto from = incoming_->begin() + static_cast<std::ptrdiff_t>(position_);
    const auto end = std::find(from, from + static_cast<std::ptrdiff_t>(count), head.delimiter);
    const bool delimited = head.delimiter >= 0 && end != from + static_cast<std::ptrdiff_t>(count);
    if (delimited) {
        count = static_cast<std::size_t>(end - from) + 1;
    }
    headData_.insert(headData_.end(), from, from + static_cast<std::ptrdiff_t>(count));
    position_ += count;
    if (headData_.size() == head.length || delimited) {
        reads_.pop_front();
        Bytes data = std::move(headData_);
        headData_ = {};
        delegate.socketDidRead(*this, std::move(data), head.tag);
    } else {
        delegate.socketDidReadPartialBytes(*this, headData_.data() + headData_.size() - count,
                                           count, head.tag);
    }
    return true;
}

}  // namespace velto::test

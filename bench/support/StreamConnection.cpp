#include "support/StreamConnection.h"

#include <algorithm>

#include "core/ChunkPool.h"

namespace velto::bench {

std::shared_ptr<StreamConnection> StreamConnection::create(std::shared_ptr<DispatchQueue> queue,
                                                           std::shared_ptr<const Bytes> incoming,
                                                           std::size_t pieceSize) {
    return std::shared_ptr<StreamConnection>(
        new StreamConnection(std::move(queue), std::move(incoming), pieceSize));
}

StreamConnection::StreamConnection(std::shared_ptr<DispatchQueue> queue,
                                   std::shared_ptr<const Bytes> incoming, std::size_t pieceSize)
    : queue_(std::move(queue)), incoming_(std::move(incoming)), pieceSize_(pieceSize) {}

void StreamConnection::setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void StreamConnection::connectToHost(const std::string& /*host*/, std::uint16_t /*port*/) {
    connectPending_ = true;
    schedule();
}

void StreamConnection::readDataToLength(std::size_t length, double /*timeout*/, long tag) {
    if (!closed_) {
        reads_.push_back({length, tag});
        schedule();
    }
}

void StreamConnection::writeData(Bytes data, double /*timeout*/, long tag) {
    if (!closed_) {
        writes_.push_back({data.size(), tag});
        ChunkPool::give(std::move(data));  // as the real socket does once a write is out
        schedule();
    }
}

void StreamConnection::disconnect() {
    if (!closed_) {
        closed_ = true;
        disconnectPending_ = true;
        reads_.clear();
        writes_.clear();
        schedule();
    }
}

void StreamConnection::disconnectAfterWriting() {
    disconnect();  // writes are taken at once, so none is left to wait for
}

void StreamConnection::schedule() {
    if (delivering_ || scheduled_) {
        return;
    }
    scheduled_ = true;
    queue_->async([self = shared_from_this()] {
        self->scheduled_ = false;
        self->pump();
    });
}

void StreamConnection::pump() {
    const auto delegate = delegate_.lock();
    if (!delegate) {
        return;
    }
    delivering_ = true;
    for (;;) {
        if (connectPending_) {
            connectPending_ = false;
            delegate->socketDidConnect(*this, "10.77.0.11", 4644);
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

bool StreamConnection::serveWrite(TcpConnectionDelegate& delegate) {
    if (writes_.empty()) {
        return false;
    }
    const Write head = writes_.front();
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

bool StreamConnection::serveRead(TcpConnectionDelegate& delegate) {
    if (reads_.empty() || closed_) {
        return false;
    }
    const Read head = reads_.front();
    if (position_ == incoming_->size() && headData_.size() < head.length) {
        closed_ = true;
        reads_.clear();
        delegate.socketDidDisconnect(*this, "end of stream");
        return true;
    }
    const std::size_t count =
        std::min({pieceSize_, head.length - headData_.size(), incoming_->size() - position_});
    if (headData_.empty()) {
        headData_.reserve(head.length);  // sized once, as the real socket does
    }
    const auto from = incoming_->begin() + static_cast<std::ptrdiff_t>(position_);
    headData_.insert(headData_.end(), from, from + static_cast<std::ptrdiff_t>(count));
    position_ += count;
    if (headData_.size() == head.length) {
        reads_.pop_front();
        Bytes data = std::move(headData_);
        headData_ = {};
        delegate.socketDidRead(*this, std::move(data), head.tag);
    } else {
        delegate.socketDidReadPartialData(*this, count, head.tag);
    }
    return true;
}

}  // namespace velto::bench

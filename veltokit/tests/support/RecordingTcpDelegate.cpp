#include "support/RecordingTcpDelegate.h"

#include <algorithm>
#include <chrono>

namespace velto::test {

bool RecordingTcpDelegate::waitFor(const std::function<bool(const Events&)>& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return condition(events_); });
}

bool RecordingTcpDelegate::waitForCount(Kind kind, std::size_t count) {
    return waitFor([&](const Events& events) {
        return std::count_if(events.begin(), events.end(),
                             [&](auto& e) { return e.kind == kind; }) >= static_cast<long>(count);
    });
}

RecordingTcpDelegate::Events RecordingTcpDelegate::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

RecordingTcpDelegate::Events RecordingTcpDelegate::ofKind(Kind kind) const {
    Events found = events();
    std::erase_if(found, [&](const TcpEvent& e) { return e.kind != kind; });
    return found;
}

void RecordingTcpDelegate::record(TcpEvent event, const std::function<void()>& then) {
    if (depth_++ > 0 || !queue_->isCurrent()) {
        misbehaved_ = true;
    }
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    if (then) {
        then();
    }
    --depth_;
}

void RecordingTcpDelegate::socketDidConnect(TcpConnection&, const std::string& host,
                                            std::uint16_t port) {
    record({.kind = Kind::Connected, .length = port, .text = host});
}

void RecordingTcpDelegate::socketDidRead(TcpConnection& sock, Bytes data, long tag) {
    record({.kind = Kind::Read, .tag = tag, .length = data.size(), .data = std::move(data)}, [&] {
        if (onRead) {
            onRead(sock, tag);
        }
    });
}

void RecordingTcpDelegate::socketDidReadPartialData(TcpConnection&, std::size_t length, long tag) {
    record({.kind = Kind::ReadPartial, .tag = tag, .length = length});
}

void RecordingTcpDelegate::socketDidReadPartialBytes(TcpConnection&, const std::uint8_t* bytes,
                                                     std::size_t length, long tag) {
    record({.kind = Kind::ReadPartial,
            .tag = tag,
            .length = length,
            .data = Bytes(bytes, bytes + length)});
}

void RecordingTcpDelegate::socketDidWrite(TcpConnection& sock, long tag) {
    record({.kind = Kind::Wrote, .tag = tag}, [&] {
        if (onWrote) {
            onWrote(sock, tag);
        }
    });
}

void RecordingTcpDelegate::socketDidWritePartialData(TcpConnection&, std::size_t length, long tag) {
    record({.kind = Kind::WritePartial, .tag = tag, .length = length});
}

double RecordingTcpDelegate::socketShouldTimeoutWrite(TcpConnection&, long tag, double elapsed,
                                                      std::size_t bytesDone) {
    double extension = 0;
    record({.kind = Kind::WriteTimeout, .tag = tag, .length = bytesDone, .elapsed = elapsed},
           [&] { extension = onWriteTimeout ? onWriteTimeout() : 0; });
    return extension;
}

void RecordingTcpDelegate::socketDidDisconnect(TcpConnection&, const std::string& error) {
    record({.kind = Kind::Disconnected, .text = error});
}

}  // namespace velto::test

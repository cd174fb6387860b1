#include "support/RecordingTcpDelegate.h"

#include <chrono>

namespace velto::test {

using Kind = TcpEvent::Kind;

RecordingTcpDelegate::Report::Report(RecordingTcpDelegate& owner) : owner_(owner) {
    if (owner_.depth_++ > 0 || !owner_.queue_->isCurrent()) {
        owner_.misbehaved_ = true;
    }
}

bool RecordingTcpDelegate::waitFor(const std::function<bool(const Events&)>& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return condition(events_); });
}

bool RecordingTcpDelegate::waitForDisconnect() {
    return waitFor([](const Events& events) {
        return !events.empty() && events.back().kind == Kind::Disconnected;
    });
}

RecordingTcpDelegate::Events RecordingTcpDelegate::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<TcpEvent> RecordingTcpDelegate::ofKind(Kind kind) const {
    std::vector<TcpEvent> found;
    for (const TcpEvent& event : events()) {
        if (event.kind == kind) {
            found.push_back(event);
        }
    }
    return found;
}

void RecordingTcpDelegate::record(TcpEvent event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
}

void RecordingTcpDelegate::socketDidConnect(TcpConnection&, const std::string& host,
                                            std::uint16_t port) {
    const Report report(*this);
    record({.kind = Kind::Connected, .length = port, .text = host});
}

void RecordingTcpDelegate::socketDidRead(TcpConnection& sock, Bytes data, long tag) {
    const Report report(*this);
    record({.kind = Kind::Read, .tag = tag, .length = data.size(), .data = data});
    if (onRead) {
        onRead(sock, data, tag);
    }
}

void RecordingTcpDelegate::socketDidReadPartialData(TcpConnection&, std::size_t length, long tag) {
    const Report report(*this);
    record({.kind = Kind::ReadPartial, .tag = tag, .length = length});
}

void RecordingTcpDelegate::socketDidWrite(TcpConnection&, long tag) {
    const Report report(*this);
    record({.kind = Kind::Wrote, .tag = tag});
}

void RecordingTcpDelegate::socketDidWritePartialData(TcpConnection&, std::size_t length, long tag) {
    const Report report(*this);
    record({.kind = Kind::WritePartial, .tag = tag, .length = length});
}

double RecordingTcpDelegate::socketShouldTimeoutWrite(TcpConnection&, long tag, double elapsed,
                                                      std::size_t bytesDone) {
    const Report report(*this);
    const TcpEvent event{
        .kind = Kind::WriteTimeout, .tag = tag, .length = bytesDone, .elapsed = elapsed};
    record(event);
    return onWriteTimeout ? onWriteTimeout(event) : 0;
}

void RecordingTcpDelegate::socketDidDisconnect(TcpConnection&, const std::string& error) {
    const Report report(*this);
    record({.kind = Kind::Disconnected, .text = error});
}

}  // namespace velto::test

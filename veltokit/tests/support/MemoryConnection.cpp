#include "support/MemoryConnection.h"

#include <algorithm>
#include <deque>
#include <limits>

namespace velto::test {

struct MemoryConnection::Link {
    struct Read {
        std::size_t length;
        double timeout;
        long tag;
        Bytes got;
    };
    struct Write {
        Bytes data;
        std::size_t done;
        double timeout;
        long tag;
    };
    struct Event {
        enum class Kind { connected, read, partialRead, written, partialWrite, disconnected };
        Kind kind;
        long tag = 0;
        std::size_t length = 0;
        Bytes data;
        std::string text;
    };
    struct End {
        std::shared_ptr<DispatchQueue> queue;
        std::weak_ptr<TcpConnectionDelegate> delegate;
        std::weak_ptr<MemoryConnection> self;
        bool connectRequested = false;
        bool closed = false;
        bool disconnectQueued = false;
        bool disconnectDelivered = false;
        bool closeAfterWrites = false;
        bool pumpScheduled = false;
        std::string closeReason;
        std::deque<Read> reads;
        std::deque<Write> writes;
        Bytes inbox;
        std::size_t inboxOffset = 0;
        std::size_t window = 1 << 20;
        std::size_t pieceSize = 0;
        std::optional<std::mt19937> random;
        std::size_t maxRandomPiece = 1;
        bool stalled = false;
        bool collecting = false;
        Bytes collected;
        std::string refusal;
        std::string remoteHost = "127.0.0.1";
        std::uint16_t remotePort = 4644;
        std::vector<std::pair<long, std::size_t>> writeLog;
        std::vector<std::pair<long, std::size_t>> readLog;
        std::size_t maxReads = 0;
        std::size_t maxWrites = 0;

        std::size_t unread() const { return inbox.size() - inboxOffset; }
    };

    std::mutex mutex;
    End ends[2];

    static void close(End& end, std::string reason) {
        if (end.closed) {
            return;
        }
        end.closed = true;
        end.closeReason = std::move(reason);
        end.reads.clear();
        end.writes.clear();
        end.inbox.clear();
        end.inboxOffset = 0;
    }

    static std::size_t nextPiece(End& receiver) {
        if (receiver.random) {
            std::uniform_int_distribution<std::size_t> pick(1, receiver.maxRandomPiece);
            return pick(*receiver.random);
        }
        return receiver.pieceSize == 0 ? std::numeric_limits<std::size_t>::max()
                                       : receiver.pieceSize;
    }

    // One step of an end's work under the lock; the reports it yields, in order, and whether
    // the other end has work now.
    std::vector<Event> step(int side, bool& wakePeer) {
        End& self = ends[side];
        End& peer = ends[1 - side];
        std::vector<Event> events;
        if (self.disconnectQueued) {
            return events;
        }
        if (self.connectRequested && !self.closed) {
            self.connectRequested = false;
            if (!self.refusal.empty()) {
                close(self, self.refusal);
            } else {
                events.push_back({Event::Kind::connected, 0, self.remotePort, {}, self.remoteHost});
            }
        }
        if (!self.closed && !self.writes.empty() && !peer.closed && !peer.stalled) {
            const std::size_t room = peer.collecting
                                         ? std::numeric_limits<std::size_t>::max()
                                         : peer.window - std::min(peer.window, peer.unread());
            Write& write = self.writes.front();
            const std::size_t piece =
                std::min({room, write.data.size() - write.done, nextPiece(peer)});
            if (piece > 0 || write.data.empty()) {
                const auto begin = write.data.begin() + static_cast<std::ptrdiff_t>(write.done);
                Bytes& target = peer.collecting ? peer.collected : peer.inbox;
                target.insert(target.end(), begin, begin + static_cast<std::ptrdiff_t>(piece));
                write.done += piece;
                wakePeer = true;
                if (write.done == write.data.size()) {
                    events.push_back({Event::Kind::written, write.tag, 0, {}, {}});
                    self.writes.pop_front();
                } else {
                    events.push_back({Event::Kind::partialWrite, write.tag, piece, {}, {}});
                }
            }
        }
        if (!self.closed && self.writes.empty() && self.closeAfterWrites) {
            close(self, "");
            wakePeer = true;
        }
        if (!self.closed && !self.writes.empty() && peer.closed) {
            close(self, "connection reset by peer");
        }
        if (!self.closed && !self.stalled && !self.collecting) {
            bool consumed = false;
            while (!self.reads.empty()) {
                Read& read = self.reads.front();
                const std::size_t take = std::min(read.length - read.got.size(), self.unread());
                if (take == 0 && read.got.size() < read.length) {
                    break;
                }
                const auto begin =
                    self.inbox.begin() + static_cast<std::ptrdiff_t>(self.inboxOffset);
                read.got.insert(read.got.end(), begin, begin + static_cast<std::ptrdiff_t>(take));
                self.inboxOffset += take;
                consumed = consumed || take > 0;
                if (read.got.size() == read.length) {
                    events.push_back({Event::Kind::read, read.tag, 0, std::move(read.got), {}});
                    self.reads.pop_front();
                } else {
                    events.push_back({Event::Kind::partialRead, read.tag, take, {}, {}});
                }
            }
            if (consumed) {
                self.inbox.erase(
                    self.inbox.begin(),
                    self.inbox.begin() + static_cast<std::ptrdiff_t>(self.inboxOffset));
                self.inboxOffset = 0;
                wakePeer = wakePeer || !peer.writes.empty();
            }
        }
        // The other end is gone: once what it sent is used up, and the reports of this step
        // have been delivered (they may queue more reads), this end learns of it.
        if (events.empty() && !self.closed && !self.stalled && peer.closed && self.unread() == 0) {
            close(self, self.reads.empty() ? "closed by peer" : "end of stream");
        }
        if (self.closed && !self.disconnectQueued) {
            self.disconnectQueued = true;
            events.push_back({Event::Kind::disconnected, 0, 0, {}, self.closeReason});
            wakePeer = true;
        }
        return events;
    }

    // Called with the lock held. Holds the end only weakly: releasing the last owner here would
    // run its destructor under the lock.
    void schedulePump(int side) {
        End& end = ends[side];
        if (end.pumpScheduled || end.self.expired()) {
            return;
        }
        end.pumpScheduled = true;
        end.queue->async([weak = end.self, side] {
            if (auto alive = weak.lock()) {
                pump(alive->link_, side);
            }
        });
    }

    void deliver(int side, std::vector<Event>& events) {
        for (auto& event : events) {
            std::shared_ptr<TcpConnectionDelegate> delegate;
            std::shared_ptr<MemoryConnection> connection;
            {
                std::lock_guard lock(mutex);
                End& self = ends[side];
                const bool isDisconnect = event.kind == Event::Kind::disconnected;
                if (self.disconnectDelivered || (self.closed && !isDisconnect)) {
                    continue;
                }
                self.disconnectDelivered = isDisconnect;
                delegate = self.delegate.lock();
                connection = self.self.lock();
            }
            if (!delegate || !connection) {
                continue;
            }
            switch (event.kind) {
                case Event::Kind::connected:
                    delegate->socketDidConnect(*connection, event.text,
                                               static_cast<std::uint16_t>(event.length));
                    break;
                case Event::Kind::read:
                    delegate->socketDidRead(*connection, std::move(event.data), event.tag);
                    break;
                case Event::Kind::partialRead:
                    delegate->socketDidReadPartialData(*connection, event.length, event.tag);
                    break;
                case Event::Kind::written:
                    delegate->socketDidWrite(*connection, event.tag);
                    break;
                case Event::Kind::partialWrite:
                    delegate->socketDidWritePartialData(*connection, event.length, event.tag);
                    break;
                case Event::Kind::disconnected:
                    delegate->socketDidDisconnect(*connection, event.text);
                    break;
            }
        }
    }
};

std::pair<std::shared_ptr<MemoryConnection>, std::shared_ptr<MemoryConnection>>
MemoryConnection::pair(std::shared_ptr<DispatchQueue> queueA,
                       std::shared_ptr<DispatchQueue> queueB) {
    auto link = std::make_shared<Link>();
    link->ends[0].queue = std::move(queueA);
    link->ends[1].queue = std::move(queueB);
    std::shared_ptr<MemoryConnection> a(new MemoryConnection(link, 0));
    std::shared_ptr<MemoryConnection> b(new MemoryConnection(link, 1));
    link->ends[0].self = a;
    link->ends[1].self = b;
    return {a, b};
}

MemoryConnection::MemoryConnection(std::shared_ptr<Link> link, int side)
    : link_(std::move(link)), side_(side) {}

MemoryConnection::~MemoryConnection() {
    std::lock_guard lock(link_->mutex);
    Link::End& self = link_->ends[side_];
    Link::close(self, "");
    self.disconnectQueued = true;
    self.disconnectDelivered = true;
    schedule(1 - side_);
}

void MemoryConnection::schedule(int side) const {
    link_->schedulePump(side);
}

void MemoryConnection::pump(const std::shared_ptr<Link>& link, int side) {
    {
        std::lock_guard lock(link->mutex);
        link->ends[side].pumpScheduled = false;
    }
    for (;;) {
        bool wakePeer = false;
        std::vector<Link::Event> events;
        {
            std::lock_guard lock(link->mutex);
            events = link->step(side, wakePeer);
            if (wakePeer) {
                link->schedulePump(1 - side);
            }
        }
        if (events.empty()) {
            return;
        }
        link->deliver(side, events);
    }
}

void MemoryConnection::setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].delegate = std::move(delegate);
    schedule(side_);
}

void MemoryConnection::connectToHost(const std::string& /*host*/, std::uint16_t /*port*/) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].connectRequested = true;
    schedule(side_);
}

void MemoryConnection::readDataToLength(std::size_t length, double timeout, long tag) {
    std::lock_guard lock(link_->mutex);
    Link::End& self = link_->ends[side_];
    if (self.closed) {
        return;
    }
    self.reads.push_back({length, timeout, tag, {}});
    self.readLog.emplace_back(tag, length);
    self.maxReads = std::max(self.maxReads, self.reads.size());
    schedule(side_);
}

void MemoryConnection::writeData(Bytes data, double timeout, long tag) {
    std::lock_guard lock(link_->mutex);
    Link::End& self = link_->ends[side_];
    if (self.closed) {
        return;
    }
    self.writeLog.emplace_back(tag, data.size());
    self.writes.push_back({std::move(data), 0, timeout, tag});
    self.maxWrites = std::max(self.maxWrites, self.writes.size());
    schedule(side_);
}

void MemoryConnection::disconnect() {
    std::lock_guard lock(link_->mutex);
    Link::close(link_->ends[side_], "");
    schedule(side_);
    schedule(1 - side_);
}

void MemoryConnection::disconnectAfterWriting() {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].closeAfterWrites = true;
    schedule(side_);
}

std::optional<std::string> MemoryConnection::connectedHost() const {
    std::lock_guard lock(link_->mutex);
    const Link::End& self = link_->ends[side_];
    return self.closed ? std::nullopt : std::optional<std::string>(self.remoteHost);
}

std::uint16_t MemoryConnection::connectedPort() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].remotePort;
}

void MemoryConnection::setPieceSize(std::size_t bytes) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].pieceSize = bytes;
    link_->ends[side_].random.reset();
}

void MemoryConnection::setRandomPieces(std::uint32_t seed, std::size_t maxPiece) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].random.emplace(seed);
    link_->ends[side_].maxRandomPiece = std::max<std::size_t>(1, maxPiece);
}

void MemoryConnection::setWindow(std::size_t bytes) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].window = std::max<std::size_t>(1, bytes);
    schedule(1 - side_);
}

void MemoryConnection::setStalled(bool stalled) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].stalled = stalled;
    schedule(side_);
    schedule(1 - side_);
}

void MemoryConnection::setCollecting(bool collecting) {
    std::lock_guard lock(link_->mutex);
    Link::End& self = link_->ends[side_];
    self.collecting = collecting;
    if (collecting) {  // what was waiting to be read is collected first
        self.collected.insert(self.collected.end(),
                              self.inbox.begin() + static_cast<std::ptrdiff_t>(self.inboxOffset),
                              self.inbox.end());
        self.inbox.clear();
        self.inboxOffset = 0;
    }
    schedule(1 - side_);
}

void MemoryConnection::refuseConnect(std::string error) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].refusal = std::move(error);
}

void MemoryConnection::setRemoteAddress(std::string host, std::uint16_t port) {
    std::lock_guard lock(link_->mutex);
    link_->ends[side_].remoteHost = std::move(host);
    link_->ends[side_].remotePort = port;
}

void MemoryConnection::cut() {
    std::lock_guard lock(link_->mutex);
    Link::close(link_->ends[0], "connection reset");
    Link::close(link_->ends[1], "connection reset");
    schedule(0);
    schedule(1);
}

bool MemoryConnection::expireReadTimeout() {
    std::lock_guard lock(link_->mutex);
    Link::End& self = link_->ends[side_];
    if (self.closed || self.reads.empty() || self.reads.front().timeout < 0) {
        return false;
    }
    Link::close(self, "read timed out");
    schedule(side_);
    schedule(1 - side_);
    return true;
}

bool MemoryConnection::expireWriteTimeout(double elapsed) {
    std::lock_guard lock(link_->mutex);
    Link::End& self = link_->ends[side_];
    if (self.closed || self.writes.empty() || self.writes.front().timeout < 0) {
        return false;
    }
    self.queue->async([weak = weak_from_this(), elapsed] {
        auto connection = weak.lock();
        if (!connection) {
            return;
        }
        auto& link = *connection->link_;
        std::shared_ptr<TcpConnectionDelegate> delegate;
        long tag = 0;
        std::size_t done = 0;
        {
            std::lock_guard inner(link.mutex);
            Link::End& end = link.ends[connection->side_];
            if (end.closed || end.writes.empty()) {
                return;
            }
            tag = end.writes.front().tag;
            done = end.writes.front().done;
            delegate = end.delegate.lock();
        }
        const double extension =
            delegate ? delegate->socketShouldTimeoutWrite(*connection, tag, elapsed, done) : 0;
        if (extension <= 0) {
            std::lock_guard inner(link.mutex);
            Link::close(link.ends[connection->side_], "write timed out");
            connection->schedule(connection->side_);
            connection->schedule(1 - connection->side_);
        }
    });
    return true;
}

Bytes MemoryConnection::collected() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].collected;
}

std::vector<std::pair<long, std::size_t>> MemoryConnection::writeLog() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].writeLog;
}

std::vector<std::pair<long, std::size_t>> MemoryConnection::readLog() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].readLog;
}

std::size_t MemoryConnection::maxReadsInFlight() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].maxReads;
}

std::size_t MemoryConnection::maxWritesInFlight() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].maxWrites;
}

std::size_t MemoryConnection::readsInFlight() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].reads.size();
}

bool MemoryConnection::isClosed() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].closed;
}

std::string MemoryConnection::closeReason() const {
    std::lock_guard lock(link_->mutex);
    return link_->ends[side_].closeReason;
}

}  // namespace velto::test

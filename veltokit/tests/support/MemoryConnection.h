#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"

namespace velto::test {

// One end of a pair of connected in-memory connections that keep the promises of
// TcpConnection: reports on the end's queue, one at a time, never from inside a call made on
// the connection; exact-length reads in queue order with partial reports; writes in order with
// one completion each, partial reports while a write is held up; a stream that ends leaves the
// reader with an "end of stream" disconnect once the buffered bytes are used up.
//
// Tests steer it: bytes move in pieces (all at once, a fixed size, or random sizes), an end
// holds at most its window of unread bytes (writers then wait), an end can stall (stop taking
// bytes), refuse the connect, be cut off, or have its pending time-out expire now.
class MemoryConnection : public TcpConnection,
                         public std::enable_shared_from_this<MemoryConnection> {
  public:
    struct Link;

    // Two ends reporting on their own queues (which may be one queue).
    static std::pair<std::shared_ptr<MemoryConnection>, std::shared_ptr<MemoryConnection>> pair(
        std::shared_ptr<DispatchQueue> queueA, std::shared_ptr<DispatchQueue> queueB);
    ~MemoryConnection() override;

    // TcpConnection
    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) override;
    void connectToHost(const std::string& host, std::uint16_t port) override;
    void readDataToLength(std::size_t length, double timeout, long tag) override;
    void writeData(Bytes data, double timeout, long tag) override;
    void disconnect() override;
    void disconnectAfterWriting() override;
    std::optional<std::string> connectedHost() const override;
    std::uint16_t connectedPort() const override;

    // Steering; any thread. Pieces are the sizes in which bytes reach this end.
    void setPieceSize(std::size_t bytes);  // 0: as much as the window takes
    void setRandomPieces(std::uint32_t seed, std::size_t maxPiece);
    void setWindow(std::size_t bytes);    // unread bytes this end holds (default 1 MiB)
    void setStalled(bool stalled);        // takes no bytes and completes no reads
    void setCollecting(bool collecting);  // takes every byte into collected(), reads ignored
    void refuseConnect(std::string error);
    void setRemoteAddress(std::string host, std::uint16_t port);
    void cut();                               // both ends break off with an error
    bool expireReadTimeout();                 // false when no read with a time-out is pending
    bool expireWriteTimeout(double elapsed);  // asks the delegate, as a real time-out does

    // Observation; any thread.
    Bytes collected() const;
    std::vector<std::pair<long, std::size_t>> writeLog() const;  // tag, size of each write
    std::vector<std::pair<long, std::size_t>> readLog() const;   // tag, length of each read
    std::size_t maxReadsInFlight() const;
    std::size_t maxWritesInFlight() const;
    std::size_t readsInFlight() const;
    bool isClosed() const;
    std::string closeReason() const;

  private:
    MemoryConnection(std::shared_ptr<Link> link, int side);

    void schedule(int side) const;
    static void pump(const std::shared_ptr<Link>& link, int side);

    std::shared_ptr<Link> link_;
    int side_;
};

}  // namespace velto::test

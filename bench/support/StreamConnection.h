#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"

namespace velto::bench {

// An in-memory connection for benchmarks, with the delivery pattern of the real socket and
// none of its system calls: reads are served from a prepared stream in one loop (reads queued
// from inside a report are served by the same loop), bytes arrive in pieces of a fixed size
// with a partial report per piece, and writes are taken at once, counted and dropped. What a
// benchmark then measures is the cost of the transfer code above the socket.
class StreamConnection : public TcpConnection,
                         public std::enable_shared_from_this<StreamConnection> {
  public:
    static std::shared_ptr<StreamConnection> create(std::shared_ptr<DispatchQueue> queue,
                                                    std::shared_ptr<const Bytes> incoming,
                                                    std::size_t pieceSize);

    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) override;
    void connectToHost(const std::string& host, std::uint16_t port) override;
    void readDataToLength(std::size_t length, double timeout, long tag) override;
    void writeData(Bytes data, double timeout, long tag) override;
    void disconnect() override;
    void disconnectAfterWriting() override;
    std::optional<std::string> connectedHost() const override { return "10.77.0.11"; }
    std::uint16_t connectedPort() const override { return 4644; }

    // Any thread.
    std::uint64_t bytesWritten() const { return bytesWritten_.load(); }

  private:
    struct Read {
        std::size_t length;
        long tag;
    };
    struct Write {
        std::size_t length;
        long tag;
    };

    StreamConnection(std::shared_ptr<DispatchQueue> queue, std::shared_ptr<const Bytes> incoming,
                     std::size_t pieceSize);

    void schedule();
    void pump();
    bool serveRead(TcpConnectionDelegate& delegate);
    bool serveWrite(TcpConnectionDelegate& delegate);

    std::shared_ptr<DispatchQueue> queue_;
    std::weak_ptr<TcpConnectionDelegate> delegate_;
    std::shared_ptr<const Bytes> incoming_;  // shared by the runs of a benchmark
    std::size_t position_ = 0;
    std::size_t pieceSize_;
    std::deque<Read> reads_;
    Bytes headData_;  // bytes of the read at the head of reads_
    std::deque<Write> writes_;
    std::size_t headWritten_ = 0;
    bool connectPending_ = false;
    bool closed_ = false;
    bool disconnectPending_ = false;
    bool delivering_ = false;
    bool scheduled_ = false;
    std::atomic<std::uint64_t> bytesWritten_{0};
};

}  // namespace velto::bench

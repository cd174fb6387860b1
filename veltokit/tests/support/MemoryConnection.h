#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"

namespace velto::test {

// A connection in memory, with the delivery pattern of the real socket and none of its system
// calls: reads are served from a prepared stream, in pieces of a fixed size with a partial
// report (and its bytes) per piece; when the stream runs out under a read the connection ends
// with an error, as a peer that closed early does. Writes are taken at once, counted and handed
// to the write sink (dropped without one). Reports run one at a time, never from inside a call
// the delegate makes: on the queue when one is given, else in run() on the calling thread.
class MemoryConnection : public TcpConnection,
                         public std::enable_shared_from_this<MemoryConnection> {
  public:
    // Without a queue, reports run in run().
    static std::shared_ptr<MemoryConnection> create(std::shared_ptr<const Bytes> incoming,
                                                    std::size_t pieceSize,
                                                    std::shared_ptr<DispatchQueue> queue = nullptr,
                                                    std::string remoteHost = "10.77.0.11");
    // A connection from remoteHost (none when empty) that never delivers a byte.
    static std::shared_ptr<MemoryConnection> idle(std::string remoteHost);

    // Takes every written buffer (the benchmarks give it back to the chunk pool).
    void setWriteSink(std::function<void(Bytes)> sink) { writeSink_ = std::move(sink); }

    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) override;
    void connectToHost(const std::string& host, std::uint16_t port) override;
    void readDataToLength(std::size_t length, double timeout, long tag) override;
    void readDataToByte(std::uint8_t delimiter, std::size_t maxLength, double timeout,
                        long tag) override;
    void writeData(Bytes data, double timeout, long tag) override;
    void disconnect() override;
    void disconnectAfterWriting() override;
    std::optional<std::string> connectedHost() const override;
    std::uint16_t connectedPort() const override { return 4644; }

    // Delivers reports until nothing is left to report (without a queue).
    void run() { pump(); }
    // Any thread.
    std::uint64_t bytesWritten() const { return bytesWritten_.load(); }
    std::size_t maxReadsInFlight() const { return maxReadsInFlight_; }

  private:
    struct Operation {
        std::size_t length;
        long tag;
        int delimiter = -1;
    };

    MemoryConnection(std::shared_ptr<const Bytes> incoming, std::size_t pieceSize,
                     std::shared_ptr<DispatchQueue> queue, std::string remoteHost);

    void schedule();
    void pump();
    bool serveRead(TcpConnectionDelegate& delegate);
    bool serveWrite(TcpConnectionDelegate& delegate);

    std::size_t pieceSize_;
    std::shared_ptr<DispatchQueue> queue_;
    std::string remoteHost_;
    std::weak_ptr<TcpConnectionDelegate> delegate_;
    std::shared_ptr<const Bytes> incoming_;  // may be shared by the runs of a benchmark
    std::function<void(Bytes)> writeSink_;
    std::size_t position_ = 0;
    std::deque<Operation> reads_;
    std::size_t maxReadsInFlight_ = 0;
    Bytes headData_;  // bytes of the read at the head of reads_
    std::deque<Operation> writes_;
    std::size_t headWritten_ = 0;
    bool connectPending_ = false;
    bool closed_ = false;
    bool disconnectPending_ = false;
    bool delivering_ = false;
    bool scheduled_ = false;
    std::atomic<std::uint64_t> bytesWritten_{0};
};

}  // namespace velto::test

#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "velto/DispatchQueue.h"
#include "velto/TcpConnection.h"

namespace velto::test {

struct TcpEvent {
    enum class Kind {
        Connected,
        Read,
        ReadPartial,
        Wrote,
        WritePartial,
        WriteTimeout,
        Disconnected
    };
    Kind kind{};
    long tag = 0;
    std::size_t length = 0;  // port, new bytes of a partial report, bytes done at a write time-out
    Bytes data{};
    std::string text{};  // host, or error
    double elapsed = 0;
};

// Records every report of a connection and lets the test wait for a condition on them. It also
// notes a report that arrives off the queue's thread or from inside another report.
class RecordingTcpDelegate : public TcpConnectionDelegate {
  public:
    using Kind = TcpEvent::Kind;
    using Events = std::vector<TcpEvent>;

    explicit RecordingTcpDelegate(std::shared_ptr<DispatchQueue> queue)
        : queue_(std::move(queue)) {}

    // Run on the queue after the report is recorded; set before the connection is used.
    std::function<void(TcpConnection&, long tag)> onRead;
    std::function<void(TcpConnection&, long tag)> onWrote;
    std::function<double()> onWriteTimeout;

    bool waitFor(const std::function<bool(const Events&)>& condition);  // false after 30 s
    bool waitForCount(Kind kind, std::size_t count);
    bool waitForDisconnect() { return waitForCount(Kind::Disconnected, 1); }
    Events events() const;
    Events ofKind(Kind kind) const;
    bool wellBehaved() const { return !misbehaved_; }

    void socketDidConnect(TcpConnection& sock, const std::string& host,
                          std::uint16_t port) override;
    void socketDidRead(TcpConnection& sock, Bytes data, long tag) override;
    void socketDidReadPartialData(TcpConnection& sock, std::size_t length, long tag) override;
    // Records the bytes too (in data).
    void socketDidReadPartialBytes(TcpConnection& sock, const std::uint8_t* bytes,
                                   std::size_t length, long tag) override;
    void socketDidWrite(TcpConnection& sock, long tag) override;
    void socketDidWritePartialData(TcpConnection& sock, std::size_t length, long tag) override;
    double socketShouldTimeoutWrite(TcpConnection& sock, long tag, double elapsed,
                                    std::size_t bytesDone) override;
    void socketDidDisconnect(TcpConnection& sock, const std::string& error) override;

  private:
    void record(TcpEvent event, const std::function<void()>& then = {});

    std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Events events_;
    std::atomic<int> depth_{0};
    std::atomic<bool> misbehaved_{false};
};

}  // namespace velto::test

#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "support/FuzzInput.h"
#include "velto/TcpConnection.h"

namespace velto::fuzz {

// A connection whose remote end sends a fixed byte stream and then closes. Reports are
// delivered by run() on the calling thread, one at a time and never from inside a call the
// delegate makes, as the real connection promises; every read of more than one byte hears of
// half its bytes first.
class FeedConnection : public TcpConnection {
  public:
    explicit FeedConnection(Bytes stream) : stream_(std::move(stream)) {}

    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) override {
        delegate_ = std::move(delegate);
    }
    void connectToHost(const std::string& /*host*/, std::uint16_t /*port*/) override {
        violated("an accepted connection is never connected again");
    }
    void readDataToLength(std::size_t length, double /*timeout*/, long tag) override {
        if (!closed_) {
            reads_.push_back({length, tag});
            maxReadsInFlight_ = std::max(maxReadsInFlight_, reads_.size());
        }
    }
    void writeData(Bytes /*data*/, double /*timeout*/, long /*tag*/) override {
        violated("the receiving side never writes");
    }
    void disconnect() override { closed_ = true; }
    void disconnectAfterWriting() override { closed_ = true; }
    std::optional<std::string> connectedHost() const override {
        return closed_ ? std::nullopt : std::optional<std::string>("10.77.0.20");
    }
    std::uint16_t connectedPort() const override { return 4644; }

    // Serves reads until the delegate closes the connection or the stream runs out.
    void run() {
        while (auto delegate = delegate_.lock()) {
            if (closed_) {
                delegate->socketDidDisconnect(*this, "");
                return;
            }
            require(!reads_.empty(), "a connection that is still open waits for a read");
            const Read read = reads_.front();
            const std::size_t available = stream_.size() - offset_;
            if (read.length > 1 && available > 0) {
                delegate->socketDidReadPartialData(*this, std::min(available, read.length / 2),
                                                   read.tag);
                if (closed_) {
                    continue;
                }
            }
            if (available < read.length) {
                closed_ = true;
                delegate->socketDidDisconnect(*this, "end of stream");
                return;
            }
            reads_.pop_front();
            const auto begin = stream_.begin() + static_cast<std::ptrdiff_t>(offset_);
            offset_ += read.length;
            delegate->socketDidRead(
                *this, Bytes(begin, begin + static_cast<std::ptrdiff_t>(read.length)), read.tag);
        }
    }

    std::size_t maxReadsInFlight() const { return maxReadsInFlight_; }

  private:
    struct Read {
        std::size_t length;
        long tag;
    };

    Bytes stream_;
    std::size_t offset_ = 0;
    std::weak_ptr<TcpConnectionDelegate> delegate_;
    std::deque<Read> reads_;
    std::size_t maxReadsInFlight_ = 0;
    bool closed_ = false;
};

}  // namespace velto::fuzz

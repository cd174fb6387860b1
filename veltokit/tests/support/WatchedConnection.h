#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "velto/AsyncTcpSocket.h"

namespace velto::test {

// A real socket behind a front that notes the reads and writes the code under test asks for and
// runs its time-outs faster: each time-out is multiplied by timeScale, and the elapsed time and
// extension of a write time-out are converted back and forth, so the code sees its own units.
class WatchedConnection : public TcpConnection,
                          public TcpConnectionDelegate,
                          public std::enable_shared_from_this<WatchedConnection> {
  public:
    using Log = std::vector<std::pair<long, std::size_t>>;  // tag, length

    static std::shared_ptr<WatchedConnection> create(std::shared_ptr<DispatchQueue> queue,
                                                     double timeScale = 1);

    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) override;
    void connectToHost(const std::string& host, std::uint16_t port) override;
    void readDataToLength(std::size_t length, double timeout, long tag) override;
    void readDataToByte(std::uint8_t delimiter, std::size_t maxLength, double timeout,
                        long tag) override;
    void writeData(Bytes data, double timeout, long tag) override;
    bool movesFileBodies() const override { return socket_->movesFileBodies(); }
    void writeFromFile(int fd, std::uint64_t offset, std::uint64_t length, double timeout,
                       long tag) override;
    void readIntoFile(int fd, std::uint64_t length, double timeout, long tag) override;
    void disconnect() override { socket_->disconnect(); }
    void disconnectWithReset() override { socket_->disconnectWithReset(); }
    void disconnectAfterWriting() override { socket_->disconnectAfterWriting(); }
    void disconnectAfterDelivery(double timeout) override {
        socket_->disconnectAfterDelivery(scaled(timeout));
    }
    std::optional<std::string> connectedHost() const override { return socket_->connectedHost(); }
    std::uint16_t connectedPort() const override { return socket_->connectedPort(); }

    void socketDidConnect(TcpConnection& sock, const std::string& host,
                          std::uint16_t port) override;
    void socketDidRead(TcpConnection& sock, Bytes data, long tag) override;
    void socketDidReadPartialData(TcpConnection& sock, std::size_t length, long tag) override;
    void socketDidReadPartialBytes(TcpConnection& sock, const std::uint8_t* bytes,
                                   std::size_t length, long tag) override;
    void socketDidWrite(TcpConnection& sock, long tag) override;
    void socketDidWritePartialData(TcpConnection& sock, std::size_t length, long tag) override;
    double socketShouldTimeoutWrite(TcpConnection& sock, long tag, double elapsed,
                                    std::size_t bytesDone) override;
    void socketDidFailFile(TcpConnection& sock, int error, long tag) override;
    void socketDidDisconnect(TcpConnection& sock, const std::string& error) override;

    // What the code under test asked for and was told so far.
    struct Notes {
        Log reads;
        Log writes;
        std::size_t maxReadsInFlight = 0;
        std::size_t maxWritesInFlight = 0;
        std::size_t partialBytesRead = 0;         // the new bytes partial reads told of
        std::vector<double> writeTimeoutAnswers;  // extensions granted, in the code's units
    };
    Notes notes() const;
    bool waitUntilConnected();  // gives up after 30 s

  private:
    explicit WatchedConnection(double timeScale) : timeScale_(timeScale) {}
    std::shared_ptr<TcpConnectionDelegate> delegate() const;
    void noteRead(long tag, std::size_t length);
    void noteWrite(long tag, std::size_t length);
    double scaled(double timeout) const { return timeout < 0 ? timeout : timeout * timeScale_; }

    const double timeScale_;
    std::shared_ptr<AsyncTcpSocket> socket_;
    mutable std::mutex mutex_;
    std::condition_variable connected_;
    bool isConnected_ = false;
    std::weak_ptr<TcpConnectionDelegate> delegate_;
    Notes notes_;
    std::size_t readsInFlight_ = 0;
    std::size_t writesInFlight_ = 0;
};

}  // namespace velto::test

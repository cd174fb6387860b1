#pragma once

#include <memory>

#include "net/TcpSocketCore.h"
#include "velto/AsyncTcpSocket.h"

namespace velto {

// The connection object handed to callers and to delegates. Each call runs on the queue: at once
// when made there, otherwise posted in call order. Dropping the last reference closes the
// connection quietly, unless a close after writing is under way: that one completes and is
// reported.
class AsyncTcpSocketImpl final : public AsyncTcpSocket,
                                 public std::enable_shared_from_this<AsyncTcpSocketImpl> {
    struct Token {};

  public:
    static std::shared_ptr<AsyncTcpSocketImpl> make(std::shared_ptr<TcpSocketCore> core,
                                                    std::shared_ptr<DispatchQueue> queue);
    AsyncTcpSocketImpl(Token, std::shared_ptr<TcpSocketCore> core,
                       std::shared_ptr<DispatchQueue> queue);
    ~AsyncTcpSocketImpl() override;

    AsyncTcpSocketImpl(const AsyncTcpSocketImpl&) = delete;
    AsyncTcpSocketImpl& operator=(const AsyncTcpSocketImpl&) = delete;

    void setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) override;
    void connectToHost(const std::string& host, std::uint16_t port) override;
    void readDataToLength(std::size_t length, double timeout, long tag) override;
    void readDataToByte(std::uint8_t delimiter, std::size_t maxLength, double timeout,
                        long tag) override;
    void writeData(Bytes data, double timeout, long tag) override;
    bool movesFileBodies() const override { return true; }
    void writeFromFile(int fd, std::uint64_t offset, std::uint64_t length, double timeout,
                       long tag) override;
    void readIntoFile(int fd, std::uint64_t length, double timeout, long tag) override;
    void disconnect() override;
    void disconnectWithReset() override;
    void disconnectAfterWriting() override;
    void disconnectAfterDelivery(double timeout) override;
    std::optional<std::string> connectedHost() const override;
    std::uint16_t connectedPort() const override;
    const std::shared_ptr<DispatchQueue>& queue() const override { return queue_; }

    TcpSocketStats stats() const { return core_->stats(); }

  private:
    template <typename Task>
    void perform(Task&& task);

    std::shared_ptr<TcpSocketCore> core_;
    std::shared_ptr<DispatchQueue> queue_;
};

}  // namespace velto

#include "net/AsyncTcpSocketImpl.h"

#include <fcntl.h>

#include <cerrno>

#include "net/SocketFront.h"

namespace velto {

std::shared_ptr<AsyncTcpSocket> AsyncTcpSocket::create(
    std::weak_ptr<TcpConnectionDelegate> delegate, std::shared_ptr<DispatchQueue> queue) {
    auto core = std::make_shared<TcpSocketCore>(queue, std::move(delegate));
    return AsyncTcpSocketImpl::make(std::move(core), std::move(queue));
}

std::shared_ptr<AsyncTcpSocketImpl> AsyncTcpSocketImpl::make(std::shared_ptr<TcpSocketCore> core,
                                                             std::shared_ptr<DispatchQueue> queue) {
    auto socket = std::make_shared<AsyncTcpSocketImpl>(Token{}, core, std::move(queue));
    core->attach(socket);
    return socket;
}

AsyncTcpSocketImpl::AsyncTcpSocketImpl(Token, std::shared_ptr<TcpSocketCore> core,
                                       std::shared_ptr<DispatchQueue> queue)
    : core_(std::move(core)), queue_(std::move(queue)) {}

AsyncTcpSocketImpl::~AsyncTcpSocketImpl() {
    perform([](TcpSocketCore& core) { core.ownerGone(); });
}

template <typename Task>
void AsyncTcpSocketImpl::perform(Task&& task) {
    runOnQueue(*queue_, core_, std::forward<Task>(task));
}

void AsyncTcpSocketImpl::setDelegate(std::weak_ptr<TcpConnectionDelegate> delegate) {
    perform([delegate = std::move(delegate)](TcpSocketCore& core) mutable {
        core.setDelegate(std::move(delegate));
    });
}

void AsyncTcpSocketImpl::connectToHost(const std::string& host, std::uint16_t port) {
    perform([host, port](TcpSocketCore& core) { core.connectToHost(host, port); });
}

void AsyncTcpSocketImpl::readDataToLength(std::size_t length, double timeout, long tag) {
    perform([=](TcpSocketCore& core) { core.readDataToLength(length, timeout, tag); });
}

void AsyncTcpSocketImpl::readDataToByte(std::uint8_t delimiter, std::size_t maxLength,
                                        double timeout, long tag) {
    perform([=](TcpSocketCore& core) { core.readDataToByte(delimiter, maxLength, timeout, tag); });
}

void AsyncTcpSocketImpl::writeData(Bytes data, double timeout, long tag) {
    perform([data = std::move(data), timeout, tag](TcpSocketCore& core) mutable {
        core.writeData(std::move(data), timeout, tag);
    });
}

void AsyncTcpSocketImpl::writeFromFile(int fd, std::uint64_t offset, std::uint64_t length,
                                       double timeout, long tag) {
    auto copy = std::make_shared<UniqueFd>(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    const int error = *copy ? 0 : errno;
    perform([=](TcpSocketCore& core) {
        core.writeFromFile(std::move(*copy), error, offset, static_cast<std::size_t>(length),
                           timeout, tag);
    });
}

void AsyncTcpSocketImpl::readIntoFile(int fd, std::uint64_t length, double timeout, long tag) {
    auto copy = std::make_shared<UniqueFd>(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    const int error = *copy ? 0 : errno;
    perform([=](TcpSocketCore& core) {
        core.readIntoFile(std::move(*copy), error, static_cast<std::size_t>(length), timeout, tag);
    });
}

// The closes hold this object until they run, so that an owner letting go right after
// asking still gets the close it asked for, and its report.
void AsyncTcpSocketImpl::disconnect() {
    perform([self = shared_from_this()](TcpSocketCore& core) { core.disconnect(); });
}

void AsyncTcpSocketImpl::disconnectWithReset() {
    perform([self = shared_from_this()](TcpSocketCore& core) { core.disconnectWithReset(); });
}

void AsyncTcpSocketImpl::disconnectAfterWriting() {
    perform([self = shared_from_this()](TcpSocketCore& core) { core.disconnectAfterWriting(); });
}

void AsyncTcpSocketImpl::disconnectAfterDelivery(double timeout) {
    perform([self = shared_from_this(), timeout](TcpSocketCore& core) {
        core.disconnectAfterDelivery(timeout);
    });
}

std::optional<std::string> AsyncTcpSocketImpl::connectedHost() const {
    return core_->connectedHost();
}

std::uint16_t AsyncTcpSocketImpl::connectedPort() const {
    return core_->connectedPort();
}

}  // namespace velto

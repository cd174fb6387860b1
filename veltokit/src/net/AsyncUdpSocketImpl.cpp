#include "net/AsyncUdpSocketImpl.h"

#include "net/SocketFront.h"

namespace velto {

std::shared_ptr<AsyncUdpSocket> AsyncUdpSocket::create(std::weak_ptr<UdpSocketDelegate> delegate,
                                                       std::shared_ptr<DispatchQueue> queue) {
    return makeFront<AsyncUdpSocketImpl, UdpSocketCore>(std::move(delegate), std::move(queue));
}

AsyncUdpSocketImpl::AsyncUdpSocketImpl(std::shared_ptr<UdpSocketCore> core,
                                       std::shared_ptr<DispatchQueue> queue)
    : core_(std::move(core)), queue_(std::move(queue)) {}

AsyncUdpSocketImpl::~AsyncUdpSocketImpl() {
    close();
}

bool AsyncUdpSocketImpl::onQueue(const std::function<bool(UdpSocketCore&)>& task) {
    bool result = false;
    queue_->sync([&] { result = task(*core_); });
    return result;
}

bool AsyncUdpSocketImpl::enableBroadcast(bool enable, std::string* error) {
    return onQueue([&](UdpSocketCore& core) { return core.enableBroadcast(enable, error); });
}

bool AsyncUdpSocketImpl::bindToPort(std::uint16_t port, std::string* error) {
    return onQueue([&](UdpSocketCore& core) { return core.bindToPort(port, error); });
}

bool AsyncUdpSocketImpl::beginReceiving(std::string* error) {
    return onQueue([&](UdpSocketCore& core) { return core.beginReceiving(error); });
}

void AsyncUdpSocketImpl::sendData(Bytes data, const std::string& host, std::uint16_t port,
                                  double timeout, long /*tag*/, SendCompletion done) {
    runOnQueue(*queue_, core_,
               [data = std::move(data), host, port, timeout,
                done = std::move(done)](UdpSocketCore& core) mutable {
                   core.sendData(std::move(data), host, port, timeout, std::move(done));
               });
}

void AsyncUdpSocketImpl::close() {
    runOnQueue(*queue_, core_, [](UdpSocketCore& core) { core.close(); });
}

}  // namespace velto

#include "net/AsyncTcpListenerImpl.h"

#include "net/SocketFront.h"

namespace velto {

std::shared_ptr<AsyncTcpListener> AsyncTcpListener::create(
    std::weak_ptr<TcpListenerDelegate> delegate, std::shared_ptr<DispatchQueue> queue) {
    return makeFront<AsyncTcpListenerImpl, TcpListenerCore>(std::move(delegate), std::move(queue));
}

AsyncTcpListenerImpl::AsyncTcpListenerImpl(std::shared_ptr<TcpListenerCore> core,
                                           std::shared_ptr<DispatchQueue> queue)
    : core_(std::move(core)), queue_(std::move(queue)) {}

AsyncTcpListenerImpl::~AsyncTcpListenerImpl() {
    close();
}

bool AsyncTcpListenerImpl::acceptOnPort(std::uint16_t port, std::string* error) {
    bool accepted = false;
    queue_->sync([&] { accepted = core_->acceptOnPort(port, error); });
    return accepted;
}

void AsyncTcpListenerImpl::close() {
    runOnQueue(*queue_, core_, [](TcpListenerCore& core) { core.close(); });
}

}  // namespace velto

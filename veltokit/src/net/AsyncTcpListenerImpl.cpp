#include "net/AsyncTcpListenerImpl.h"

#include "net/QueueTask.h"

namespace velto {

std::shared_ptr<AsyncTcpListener> AsyncTcpListener::create(
    std::weak_ptr<TcpListenerDelegate> delegate, std::shared_ptr<DispatchQueue> queue) {
    auto core = std::make_shared<TcpListenerCore>(queue, std::move(delegate));
    auto listener = std::make_shared<AsyncTcpListenerImpl>(core, std::move(queue));
    core->attach(listener);
    return listener;
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

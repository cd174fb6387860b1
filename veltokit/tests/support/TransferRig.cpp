#include "support/TransferRig.h"

namespace velto::test {
namespace {

std::shared_ptr<VeltoTransfer> transferOver(ItemList items, std::shared_ptr<DispatchQueue> queue,
                                            std::shared_ptr<MemoryConnection> end) {
    auto transfer = VeltoTransfer::create(
        std::move(items), VeltoPeer("10.77.0.2", "10.77.0.2", 4644, "Peer", {}), std::move(queue));
    transfer->setConnectionFactory(
        [end](std::weak_ptr<TcpConnectionDelegate> delegate, std::shared_ptr<DispatchQueue>) {
            end->setDelegate(std::move(delegate));
            return end;
        });
    return transfer;
}

}  // namespace

SendingRig::SendingRig(ItemList items) {
    std::tie(local, remote) = MemoryConnection::pair(queue, remoteQueue);
    remote->setCollecting(true);
    transfer = transferOver(std::move(items), queue, local);
    transfer->setDelegate(delegate);
}

SendingRig::~SendingRig() {
    queue->sync([] {});  // the last reports have run before the rig goes
}

ReceivingRig::ReceivingRig(std::string base) : basePath(std::move(base)) {
    std::tie(remote, local) = MemoryConnection::pair(remoteQueue, queue);
    local->setRemoteAddress("10.77.0.9", 50123);
}

ReceivingRig::~ReceivingRig() {
    queue->sync([] {});
}

void ReceivingRig::create() {
    queue->sync(
        [&] { transfer = VeltoIncomingTransfer::create(local, "key", delegate, basePath); });
}

void ReceivingRig::send(const Bytes& bytes, bool keepOpen) {
    remote->writeData(bytes, -1, 0);
    if (!keepOpen) {
        remote->disconnectAfterWriting();
    }
}

}  // namespace velto::test

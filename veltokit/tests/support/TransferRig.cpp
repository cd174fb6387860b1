#include "support/TransferRig.h"

#include <chrono>
#include <thread>

namespace velto::test {

SendingRig::SendingRig(ItemList items, double timeScale)
    : connection(WatchedConnection::create(queue, timeScale)) {
    transfer = VeltoTransfer::create(
        std::move(items), VeltoPeer("127.0.0.1", "127.0.0.1", peer.port(), "Peer", {}), queue);
    TransferConnections::connectThrough(
        *transfer, [front = connection](std::weak_ptr<TcpConnectionDelegate> target,
                                        std::shared_ptr<DispatchQueue>) {
            front->setDelegate(std::move(target));
            return front;
        });
    transfer->setDelegate(delegate);
}

SendingRig::~SendingRig() {
    queue->sync([] {});  // the last reports have run before the rig goes
}

Bytes SendingRig::receiveAll() {
    // Then closes, as a receiver that took everything does.
    Bytes received = peer.accept() ? peer.receiveUntilClosed().value_or(Bytes{}) : Bytes{};
    peer.close();
    return received;
}

ReceivingRig::ReceivingRig(std::string base, double timeScale)
    : basePath(std::move(base)), connection(WatchedConnection::create(queue, timeScale)) {}

ReceivingRig::~ReceivingRig() {
    queue->sync([] {});
}

void ReceivingRig::create() {
    connection->connectToHost("127.0.0.1", peer.port());
    if (peer.accept() && connection->waitUntilConnected()) {
        queue->sync([&] {
            transfer = TransferConnections::receive(connection, "key", delegate, basePath);
        });
    }
}

void ReceivingRig::send(const Bytes& bytes, bool keepOpen, std::size_t maxPiece) {
    peer.send(bytes, maxPiece);
    if (!keepOpen) {
        peer.close();
    }
}

bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 20000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

}  // namespace velto::test

// The transfer side of VeltoServer: accepted connections become incoming transfers, started
// outgoing transfers are kept for the whole run.
#include "velto/RandomString.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"
#include "velto/VeltoTransfer.h"

namespace velto {

void VeltoServer::socketDidAcceptNewSocket(AsyncTcpListener& /*listener*/,
                                           std::shared_ptr<AsyncTcpSocket> newSocket) {
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = incomingDelegate_;
    }
    // Created outside the lock: creation already reports to the delegate.
    // The accepted socket reports on the incoming queue, which the file writer reports to too.
    auto transfer = VeltoIncomingTransfer::create(
        std::move(newSocket), generateRandomStringWithLength(32), delegate, {}, incomingQueue_);
    std::lock_guard lock(mutex_);
    pendingIncomingTransfers_.push_back(std::move(transfer));
}

void VeltoServer::startTransfer(const std::shared_ptr<VeltoTransfer>& transfer) {
    transfer->start();
    std::lock_guard lock(mutex_);
    pendingTransfers_.push_back(transfer);
}

}  // namespace velto

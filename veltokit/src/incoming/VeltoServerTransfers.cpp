// The transfer side of VeltoServer: accepted connections become incoming transfers, started
// outgoing transfers are kept for the whole run.
#include <random>

#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"
#include "velto/VeltoTransfer.h"

namespace velto {
namespace {

// TEMPORARY until the shared random-string helper lands with the utilities; then removed.
std::string temporaryRandomKey(std::size_t length) {
    static const std::string alphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text.push_back(alphabet[pick(engine)]);
    }
    return text;
}

}  // namespace

void VeltoServer::socketDidAcceptNewSocket(AsyncTcpListener& /*listener*/,
                                           std::shared_ptr<AsyncTcpSocket> newSocket) {
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        delegate = incomingDelegate_;
    }
    // Created outside the lock: creation already reports to the delegate.
    auto transfer =
        VeltoIncomingTransfer::create(std::move(newSocket), temporaryRandomKey(32), delegate);
    std::lock_guard lock(mutex_);
    pendingIncomingTransfers_.push_back(std::move(transfer));
}

void VeltoServer::startTransfer(const std::shared_ptr<VeltoTransfer>& transfer) {
    transfer->start();
    std::lock_guard lock(mutex_);
    pendingTransfers_.push_back(transfer);
}

}  // namespace velto

// The transfer side of VeltoServer: accepted connections become incoming transfers, and the
// server keeps every transfer while it runs. Only running ones: a transfer has no other owner
// while it waits for its connection, and one that has ended has sent its delegate every report
// it will send (the delegate keeps what it wants of it). Ended ones are let go whenever a new
// one is added, so a long run holds no more transfers than ever ran at once, plus those that
// ended since the last start.
#include <future>

#include "incoming/PendingQuestions.h"

#include "velto/AsyncTcpListener.h"
#include "velto/AsyncTcpSocket.h"
#include "velto/Diagnostics.h"
#include "velto/RandomString.h"
#include "velto/TransferConnections.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"
#include "velto/VeltoTransfer.h"

namespace velto {

// A question answered in time never fails a transfer sent by this library: the sender's
// deadlines outlast it.
static_assert(VeltoTransfer::headerWriteTimeout > VeltoIncomingTransfer::questionTimeoutDefault &&
              VeltoTransfer::bodyStallTimeout > VeltoIncomingTransfer::questionTimeoutDefault);

void VeltoServer::acceptConnection(std::shared_ptr<AsyncTcpSocket> newSocket) {
    if (refuseConnection(newSocket->connectedHost().value_or(""))) {
        newSocket->disconnect();
        return;
    }
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate;
    std::string folder;
    {
        std::lock_guard lock(mutex_);
        delegate = incomingDelegate_;
        folder = receivingFolder_;
    }
    // Created outside the lock: creation already reports to the delegate.
    auto transfer = TransferConnections::receive(
        std::move(newSocket), generateRandomStringWithLength(32), delegate, std::move(folder),
        {.queue = incomingQueue_, .check = contentCheck()});
    std::lock_guard lock(mutex_);
    std::erase_if(pendingIncomingTransfers_, [](const auto& t) { return t->hasEnded(); });
    pendingIncomingTransfers_.push_back(std::move(transfer));
}

namespace {

template <typename Transfer>
std::shared_ptr<Transfer> runningWithKey(const std::vector<std::shared_ptr<Transfer>>& transfers,
                                         const std::string& key) {
    for (const auto& transfer : transfers) {
        if (transfer->key() == key && !transfer->hasEnded()) {
            return transfer;
        }
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<VeltoTransfer> VeltoServer::outgoingTransfer(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return runningWithKey(pendingTransfers_, key);
}

std::shared_ptr<VeltoIncomingTransfer> VeltoServer::incomingTransfer(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return runningWithKey(pendingIncomingTransfers_, key);
}

bool VeltoServer::refuseConnection(const std::string& sender) {
    const ComputerIdentity identity = identityOf(sender);
    const ReceivePolicy policy = receivePolicy();
    if (policy.decideOnConnect(identity) != ReceiveDecision::Refuse) {
        return false;
    }
    const std::string reason = policy.isBlocked(identity)          ? "the computer is blocked"
                               : policy.mode() == ReceiveMode::Off ? "receiving is off"
                                                                   : "the computer is not trusted";
    diagnostic("Refused a connection from", sender + ":", reason);
    if (const auto delegate = incomingDelegate()) {
        delegate->incomingConnectionRefused(sender, reason);
    }
    return true;
}

// The policy as it is when the first element arrives, for the sender the hellos tell of.
VeltoIncomingTransfer::ContentCheck VeltoServer::contentCheck() {
    return [weak = weak_from_this(), questions = questions_](const VeltoIncomingTransfer& transfer,
                                                             bool isText) {
        const auto self = weak.lock();
        const std::string sender = transfer.remoteHost().value_or("");
        VeltoIncomingTransfer::ContentVerdict verdict;
        if (!self) {
            verdict.decision = ReceiveDecision::Refuse;
            return verdict;
        }
        verdict.decision = self->receivePolicy().decideOnContent(self->identityOf(sender), isText);
        if (verdict.decision == ReceiveDecision::Ask) {
            verdict.release = questions->reserve(sender);
            if (!verdict.release) {
                diagnostic("Too many questions pending; refused", sender);
                verdict.decision = ReceiveDecision::Refuse;
            }
        }
        return verdict;
    };
}

bool VeltoServer::stopReceiving(std::chrono::steady_clock::time_point deadline) {
    if (incomingQueue_->isCurrent()) {
        endIncomingTransfers();
        return true;
    }
    auto ended = std::make_shared<std::promise<void>>();
    auto future = ended->get_future();
    incomingQueue_->async([self = shared_from_this(), ended] {
        self->endIncomingTransfers();
        ended->set_value();
    });
    return future.wait_until(deadline) == std::future_status::ready;
}

// The listener closes first, on the queue that accepts: no transfer starts after this, and
// every one that had started is ended here, on the queue that does all their file work.
void VeltoServer::endIncomingTransfers() {
    if (listenSocket_) {
        listenSocket_->close();
    }
    std::vector<std::shared_ptr<VeltoIncomingTransfer>> running;
    {
        std::lock_guard lock(mutex_);
        running.swap(pendingIncomingTransfers_);
    }
    for (const auto& transfer : running) {
        transfer->abandon();
    }
}

void VeltoServer::startTransfer(const std::shared_ptr<VeltoTransfer>& transfer) {
    transfer->start();
    std::lock_guard lock(mutex_);
    std::erase_if(pendingTransfers_, [](const auto& t) { return t->hasEnded(); });
    pendingTransfers_.push_back(transfer);
}

}  // namespace velto

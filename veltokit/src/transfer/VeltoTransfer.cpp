#include "velto/VeltoTransfer.h"

#include "core/DispatchQueueContext.h"
#include "net/OperationTimer.h"
#include "transfer/ItemWalk.h"
#include "velto/AsyncTcpSocket.h"
#include "velto/BinUtils.h"
#include "velto/Diagnostics.h"
#include "velto/TcpConnection.h"
#include "velto/VeltoFile.h"
#include "velto/VeltoText.h"

namespace velto {

ItemList VeltoTransfer::itemsForText(const std::string& text) {
    return {std::make_shared<VeltoText>(text)};
}

ItemList VeltoTransfer::itemsForPaths(const std::vector<std::string>& paths) {
    std::vector<SkippedPath> ignored;
    return itemsForPaths(paths, ignored);
}

ItemList VeltoTransfer::itemsForPaths(const std::vector<std::string>& paths,
                                      std::vector<SkippedPath>& skipped) {
    ItemWalk walk;
    ItemList items = walk.run(paths);
    skipped = walk.skipped();
    return items;
}

class VELTO_HIDDEN VeltoTransfer::ConnectionEvents final : public TcpConnectionDelegate {
  public:
    explicit ConnectionEvents(VeltoTransfer& transfer) : transfer_(transfer) {}

    void socketDidConnect(TcpConnection& /*sock*/, const std::string& host,
                          std::uint16_t port) override {
        transfer_.socketDidConnect(host, port);
    }
    void socketDidWrite(TcpConnection& /*sock*/, long tag) override {
        transfer_.socketDidWrite(tag);
    }
    void socketDidWritePartialData(TcpConnection& /*sock*/, std::size_t length, long tag) override {
        transfer_.socketDidWritePartialData(length, tag);
    }
    double socketShouldTimeoutWrite(TcpConnection& /*sock*/, long tag, double elapsed,
                                    std::size_t bytesDone) override {
        return transfer_.socketShouldTimeoutWrite(tag, elapsed, bytesDone);
    }
    void socketDidFailFile(TcpConnection& /*sock*/, int error, long /*tag*/) override {
        transfer_.socketDidFailFile(error);
    }
    void socketDidDisconnect(TcpConnection& /*sock*/, const std::string& error) override {
        transfer_.socketDidDisconnect(error);
    }

  private:
    VeltoTransfer& transfer_;
};

std::shared_ptr<VeltoTransfer> VeltoTransfer::create(ItemList items, VeltoPeer peer,
                                                     std::shared_ptr<DispatchQueue> dispatchQueue) {
    return std::shared_ptr<VeltoTransfer>(
        new VeltoTransfer(std::move(items), std::move(peer), std::move(dispatchQueue)));
}

VeltoTransfer::VeltoTransfer(ItemList items, VeltoPeer peer,
                             std::shared_ptr<DispatchQueue> dispatchQueue)
    : items_(std::move(items)),
      peer_(std::move(peer)),
      dispatchQueue_(std::move(dispatchQueue)),
      connectionEvents_(std::make_unique<ConnectionEvents>(*this)),
      connectionFactory_(
          [](std::weak_ptr<TcpConnectionDelegate> delegate, std::shared_ptr<DispatchQueue> queue) {
              return std::shared_ptr<TcpConnection>(
                  AsyncTcpSocket::create(std::move(delegate), std::move(queue)));
          }) {
    for (const auto& item : items_) {
        totalSize_ += item->size();
    }
}

VeltoTransfer::~VeltoTransfer() = default;

void VeltoTransfer::setDelegate(std::shared_ptr<VeltoTransferDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void VeltoTransfer::setKey(std::string key) {
    key_ = std::move(key);
}

const std::string& VeltoTransfer::key() const {
    return key_;
}

const VeltoPeer& VeltoTransfer::peer() const {
    return peer_;
}

void VeltoTransfer::setConnectionFactory(ConnectionFactory factory) {
    connectionFactory_ = std::move(factory);
}

void VeltoTransfer::start() {
    // Everything of the transfer happens on its queue, so no state is shared with the caller.
    dispatchQueue_->async([self = shared_from_this()] { self->connect(); });
}

void VeltoTransfer::cancel() {
    dispatchQueue_->async([self = shared_from_this()] {
        self->fail("cancelled on this computer", TransferOutcome::cancelled);
    });
}

TransferOutcome VeltoTransfer::outcome() const {
    switch (state_) {
        case State::finished:
            return TransferOutcome::finished;
        case State::failed:
            return cancelled_ ? TransferOutcome::cancelled : TransferOutcome::failed;
        default:
            return TransferOutcome::running;
    }
}

bool VeltoTransfer::hasEnded() const {
    const State state = state_;
    return state == State::finished || state == State::failed;
}

void VeltoTransfer::connect() {
    if (state_ != State::created) {
        return;
    }
    state_ = State::connecting;
    transferedSize_ = 0;
    transferedCount_ = 0;
    reportRenamedItems();
    // The connection reaches the events through the transfer's own count, so that a report
    // keeps the transfer alive and none arrives once it is gone.
    socket_ = connectionFactory_(
        std::shared_ptr<TcpConnectionDelegate>(shared_from_this(), connectionEvents_.get()),
        dispatchQueue_);
    socket_->connectToHost(peer_.ip, peer_.port);
}

void VeltoTransfer::reportRenamedItems() {
    std::vector<std::string> renamed;
    for (const auto& item : items_) {
        if (!item->nameOnDisk().empty()) {
            renamed.push_back(item->name());
        }
    }
    if (!renamed.empty() && delegate_) {
        delegate_->transferWithRenamedItems(*this, renamed);
    }
}

void VeltoTransfer::socketDidConnect(const std::string& host, std::uint16_t port) {
    diagnostic("didConnectToHost", host, port);
    if (state_ != State::connecting) {
        return;
    }
    state_ = State::sending;
    waitingWatch_ = std::make_unique<OperationTimer>(ioContextOf(*dispatchQueue_));
    bytesMoved();
    watchForWaiting(waitingAfter);
    if (delegate_) {
        delegate_->transferWithConnected(*this);
    }
    socket_->writeData(packLittleEndianUInt64Pair(items_.size(), totalSize_), headerWriteTimeout,
                       tagMetadata);
    reportProgress(0);
}

void VeltoTransfer::socketDidWrite(long tag) {
    diagnostic("didWriteDataWithTag", tag);
    if (state_ != State::sending) {
        return;
    }
    bytesMoved();
    switch (tag) {
        case tagMetadata:
            if (items_.empty()) {
                finish();
            } else {
                writeElementHeader();
            }
            break;
        case tagFileHeader:
            nextChunk();
            break;
        case tagFileBody:
            bodyChunkWritten();
            break;
        default:
            break;
    }
}

void VeltoTransfer::writeElementHeader() {
    const auto& item = items_[transferedCount_];
    diagnostic("sending meta", item->name());
    transferedItemSize_ = 0;
    transferedItemPosition_ = 0;
    socket_->writeData(item->header(), headerWriteTimeout, tagFileHeader);
}

void VeltoTransfer::nextChunk() {
    const auto& item = items_[transferedCount_];
    if (sendFromFile(*item)) {
        return;
    }
    Bytes data = item->nextChunk();
    // The body must be exactly as long as the header said: anything else ends the transfer
    // before a wrong byte is written.
    if (!item->readFailure().empty()) {
        fail(item->readFailure());
        return;
    }
    if ((data.empty() && transferedItemPosition_ < item->size()) ||
        data.size() > item->size() - transferedItemPosition_) {
        fail(item->name() + " did not yield the announced number of bytes");
        return;
    }
    transferedItemPosition_ += data.size();
    diagnostic("sending chunk", transferedItemPosition_, data.size(), item->name());
    partialSize_ = 0;
    reportProgress(transferedSize_ + transferedItemSize_);
    if (data.empty()) {
        bodyChunkWritten();
        return;
    }
    socket_->writeData(std::move(data), bodyStallTimeout, tagFileBody);
}

// A large file's body but its tail goes in one piece, from the file to the peer inside the
// system where it can; the kernel's own read-ahead keeps the file's pages coming.
bool VeltoTransfer::sendFromFile(VeltoItem& item) {
    auto* file = dynamic_cast<VeltoFile*>(&item);
    if (file == nullptr || item.size() <= fileBodyTail || transferedItemPosition_ != 0 ||
        !socket_->movesFileBodies()) {
        return false;
    }
    const int fd = file->bodyDescriptor();
    if (fd < 0) {
        fail(item.readFailure());
        return true;
    }
    fileBody_ = file;
    transferedItemPosition_ = item.size() - fileBodyTail;
    file->skipBody(transferedItemPosition_);
    partialSize_ = 0;
    reportProgress(transferedSize_);
    socket_->writeFromFile(fd, 0, transferedItemPosition_, bodyStallTimeout, tagFileBody);
    return true;
}

void VeltoTransfer::socketDidFailFile(int error) {
    if (state_ != State::sending || fileBody_ == nullptr) {
        return;
    }
    std::exchange(fileBody_, nullptr)->failBody(error);
    fail(items_[transferedCount_]->readFailure());
}

void VeltoTransfer::bodyChunkWritten() {
    const auto& item = items_[transferedCount_];
    transferedItemSize_ = transferedItemPosition_;
    fileBody_ = nullptr;
    if (transferedItemPosition_ < item->size()) {
        nextChunk();
        return;
    }
    transferedSize_ += item->size();
    transferedCount_ += 1;
    transferedItemSize_ = 0;
    transferedItemPosition_ = 0;
    reportProgress(transferedSize_);
    if (transferedCount_ == items_.size()) {
        finish();
    } else {
        writeElementHeader();
    }
}

void VeltoTransfer::finish() {
    // Written is not delivered: the transfer has finished only once the receiver took every
    // byte and closed. A receiver that refuses (closes without reading, or stops half way) resets
    // the connection instead, and the transfer fails.
    state_ = State::closing;
    socket_->disconnectAfterDelivery(bodyStallTimeout);
}

void VeltoTransfer::fail(const std::string& reason, TransferOutcome outcome) {
    if (state_ == State::finished || state_ == State::failed) {
        return;
    }
    diagnostic("transfer failed", reason);
    failureReason_ = reason;
    cancelled_ = outcome == TransferOutcome::cancelled;
    state_ = State::failed;
    if (waitingWatch_) {
        waitingWatch_->cancel();
    }
    if (socket_ && outcome == TransferOutcome::cancelled) {
        socket_->disconnectWithReset();  // at once, not after what the kernel still holds
    } else if (socket_) {
        socket_->disconnect();
    }
    if (delegate_) {
        delegate_->transferWithFailed(*this);
    }
}

void VeltoTransfer::socketDidWritePartialData(std::size_t length, long tag) {
    if (tag != tagFileBody || state_ != State::sending) {
        return;
    }
    bytesMoved();
    partialSize_ += length;
    reportProgress(transferedSize_ + transferedItemSize_ + partialSize_);
}

double VeltoTransfer::socketShouldTimeoutWrite(long tag, double elapsed, std::size_t bytesDone) {
    // Asked only once the write stood still for its whole time-out.
    diagnostic("shouldTimeoutWriteWithTag", tag, elapsed, bytesDone);
    return 0;
}

void VeltoTransfer::socketDidDisconnect(const std::string& error) {
    diagnostic("didDisconnect", error);
    // Released after this report returns: the connection may still be on the call stack.
    auto retired = std::move(socket_);
    if (state_ == State::closing && error.empty()) {
        state_ = State::finished;
        waitingWatch_->cancel();
        if (delegate_) {
            delegate_->transferWithFinished(*this);
        }
    } else {
        fail(error.empty() ? "the connection was closed" : error);
    }
    dispatchQueue_->async([retired = std::move(retired)] {});
}

void VeltoTransfer::bytesMoved() {
    lastMoved_ = std::chrono::steady_clock::now();
    if (std::exchange(waiting_, false) && delegate_) {
        delegate_->transferWithWaiting(*this, false);
    }
}

void VeltoTransfer::watchForWaiting(double seconds) {
    waitingWatch_->start(seconds, [self = shared_from_this()] { self->checkWaiting(); });
}

// Until the transfer ends, looked at again waitingAfter after the last byte that moved.
void VeltoTransfer::checkWaiting() {
    if (hasEnded()) {
        return;
    }
    const double still =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - lastMoved_).count();
    if (still >= waitingAfter && !waiting_) {
        waiting_ = true;
        diagnostic("transfer waiting for the receiver");
        if (delegate_) {
            delegate_->transferWithWaiting(*this, true);
        }
    }
    watchForWaiting(still >= waitingAfter ? waitingAfter : waitingAfter - still);
}

void VeltoTransfer::reportProgress(std::uint64_t byteFinished) {
    if (delegate_) {
        delegate_->transferWithProgress(*this, items_.size(), transferedCount_, totalSize_,
                                        byteFinished);
    }
}

}  // namespace velto

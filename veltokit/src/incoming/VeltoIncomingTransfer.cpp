#include "velto/VeltoIncomingTransfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <tuple>

#include "core/ChunkPool.h"
#include "core/DispatchQueueContext.h"
#include "core/Utf8.h"
#include "incoming/ElementName.h"
#include "incoming/IncomingStorage.h"
#include "incoming/SmallFileStore.h"
#include "net/OperationTimer.h"
#include "velto/BinUtils.h"
#include "velto/Diagnostics.h"
#include "velto/PathHelpers.h"
#include "velto/TcpConnection.h"
#include "velto/UserFolders.h"
#include "velto/VeltoItem.h"
#include "velto/VeltoText.h"

namespace velto {

class VELTO_HIDDEN VeltoIncomingTransfer::ConnectionEvents final : public TcpConnectionDelegate {
  public:
    explicit ConnectionEvents(VeltoIncomingTransfer& transfer) : transfer_(transfer) {}

    void socketDidRead(TcpConnection& /*sock*/, Bytes data, long tag) override {
        transfer_.socketDidRead(std::move(data), tag);
    }
    void socketDidReadPartialData(TcpConnection& /*sock*/, std::size_t length, long tag) override {
        transfer_.socketDidReadPartialData(length, tag);
    }
    void socketDidReadPartialBytes(TcpConnection& /*sock*/, const std::uint8_t* bytes,
                                   std::size_t length, long tag) override {
        transfer_.socketDidReadPartialBytes(bytes, length, tag);
    }
    void socketDidFailFile(TcpConnection& /*sock*/, int error, long /*tag*/) override {
        transfer_.socketDidFailFile(error);
    }
    void socketDidDisconnect(TcpConnection& /*sock*/, const std::string& error) override {
        transfer_.socketDidDisconnect(error);
    }

  private:
    VeltoIncomingTransfer& transfer_;
};

std::shared_ptr<VeltoIncomingTransfer> VeltoIncomingTransfer::create(
    std::shared_ptr<TcpConnection> socket, std::string key,
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath) {
    return create(std::move(socket), std::move(key), std::move(delegate), std::move(basePath),
                  Hosting{});
}

std::shared_ptr<VeltoIncomingTransfer> VeltoIncomingTransfer::create(
    std::shared_ptr<TcpConnection> socket, std::string key,
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath,
    Hosting hosting) {
    std::shared_ptr<VeltoIncomingTransfer> transfer(
        new VeltoIncomingTransfer(std::move(socket), std::move(key), std::move(delegate),
                                  std::move(basePath), std::move(hosting)));
    transfer->begin();
    return transfer;
}

VeltoIncomingTransfer::VeltoIncomingTransfer(
    std::shared_ptr<TcpConnection> socket, std::string key,
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath, Hosting hosting)
    : connectionEvents_(std::make_unique<ConnectionEvents>(*this)),
      socket_(std::move(socket)),
      key_(std::move(key)),
      delegate_(std::move(delegate)),
      basePath_(basePath.empty() ? UserFolders::userDownloadsFolder() : std::move(basePath)),
      startTime_(std::chrono::system_clock::now()),
      storage_(std::make_unique<IncomingStorage>(basePath_, startTime_)),
      hosting_(std::move(hosting)) {
    if (hosting_.queue) {
        questionDeadline_ = std::make_unique<OperationTimer>(ioContextOf(*hosting_.queue));
    }
}

VeltoIncomingTransfer::~VeltoIncomingTransfer() = default;

double VeltoIncomingTransfer::questionTimeout() {
    if (const char* text = std::getenv("VELTO_QUESTION_TIMEOUT")) {
        char* end = nullptr;
        const double seconds = std::strtod(text, &end);
        if (end != text && *end == '\0' && seconds > 0 && seconds < questionTimeoutDefault) {
            return seconds;
        }
    }
    return questionTimeoutDefault;
}

std::size_t VeltoIncomingTransfer::removeLeftoverIntermediateFolders(const std::string& basePath) {
    return IncomingStorage::removeLeftovers(basePath.empty() ? UserFolders::userDownloadsFolder()
                                                             : basePath);
}

const std::string& VeltoIncomingTransfer::key() const {
    return key_;
}

std::optional<std::string> VeltoIncomingTransfer::remoteHost() const {
    return socket_->connectedHost();
}

std::optional<VeltoPeer> VeltoIncomingTransfer::peer() const {
    std::lock_guard lock(peerMutex_);
    return peer_;
}

void VeltoIncomingTransfer::setPeer(VeltoPeer peer) {
    std::lock_guard lock(peerMutex_);
    peer_ = std::move(peer);
}

const std::string& VeltoIncomingTransfer::currentBasePath() const {
    return storage_->intermediatePath();
}

void VeltoIncomingTransfer::begin() {
    // Reports reach the events through the transfer's own count: one keeps the transfer alive,
    // and none arrives once it is gone.
    socket_->setDelegate(
        std::shared_ptr<TcpConnectionDelegate>(shared_from_this(), connectionEvents_.get()));
    if (delegate_) {
        delegate_->incomingTransferWithCreated(*this);
    }
    socket_->readDataToLength(16, headerReadTimeout, tagMetadata);
}

void VeltoIncomingTransfer::socketDidRead(Bytes data, long tag) {
    if (state_ != State::reading) {
        return;
    }
    diagnostic("Incoming didRead", data.size(), tag);
    if (tag == tagFileName) {
        nameRead(data);
    } else if (tag == tagMetadata) {
        streamHeaderRead(data);
    } else if (tag == tagFileSize) {
        sizeRead(data);
    } else if (tag == tagFileBody && bodyIntoFile_) {
        bodyStored();
    } else if (tag == tagFileBody) {
        bodyChunkRead(std::move(data));
    }
}

void VeltoIncomingTransfer::streamHeaderRead(const Bytes& data) {
    const auto counts = unpackLittleEndianUInt64Pair(data);
    if (!counts) {
        fail("a stream header of the wrong length");
        return;
    }
    std::tie(elementCount_, totalSize_) = *counts;
    diagnostic("Incoming transfer elements=", elementCount_, totalSize_);
    // Refused before anything is written: a transfer that cannot fit never starts.
    std::string error;
    if (!storage_->checkRoom(totalSize_, elementCount_, error)) {
        fail(error);
        return;
    }
    reportProgress(0, 0, false);
    doNextFile();
}

void VeltoIncomingTransfer::doNextFile() {
    if (currentElementPlusOne_ < elementCount_) {
        currentElementPlusOne_ += 1;
        // The name and its terminating zero in one read; a longer name ends it without one.
        socket_->readDataToByte(0, ElementName::maxLength + 1, headerReadTimeout, tagFileName);
    } else {
        completeTransfer();
    }
}

void VeltoIncomingTransfer::nameRead(const Bytes& data) {
    if (data.empty() || data.back() != 0) {
        fail("an element name is longer than " + std::to_string(ElementName::maxLength) + " bytes");
        return;
    }
    currentName_.assign(data.begin(), data.end() - 1);
    textBuffer_.reset();
    if (currentName_ == VeltoText::markerName && elementCount_ == 1) {
        currentRelativePath_.clear();
        currentPath_.clear();
        textBuffer_.emplace();
    } else {
        std::string reason;
        const auto relative = ElementName::relativePath(currentName_, reason);
        if (!relative) {
            fail(reason);
            return;
        }
        currentRelativePath_ = *relative;
        currentPath_ = stringByAppendingPathComponent(storage_->intermediatePath(), *relative);
        diagnostic("Incoming path: ", currentPath_);
    }
    reportProgress(currentElementPlusOne_ - 1, byteFinished_ + currentSize_, true);
    socket_->readDataToLength(8, headerReadTimeout, tagFileSize);
}

void VeltoIncomingTransfer::sizeRead(const Bytes& data) {
    const auto announced = unpackLittleEndianUInt64(data);
    if (!announced) {
        fail("an element size of the wrong length");
        return;
    }
    const std::uint64_t size = *announced;
    diagnostic("Incoming item size: ", size);
    currentIsFolder_ = size == VeltoItem::folderMarker;
    if (currentIsFolder_ && isText()) {
        fail("a text element carries the folder marker");
        return;
    }
    // The announced total was checked against the free space; no element may exceed it.
    if (!currentIsFolder_ && size > totalSize_ - byteFinished_) {
        fail("the elements carry more bytes than the stream header announced");
        return;
    }
    if (isText() && size > maxTextSize) {
        fail("a text of " + std::to_string(size) + " bytes is too large");
        return;
    }
    currentElementSize_ = currentIsFolder_ ? 0 : size;
    if (currentElementPlusOne_ == 1 && holdsForScreening()) {
        return;
    }
    startElement();
}

void VeltoIncomingTransfer::startElement() {
    std::string error;
    // A small file is created once its body is in, and stored alongside the reading.
    storedLater_ = !currentIsFolder_ && !isText() && currentElementSize_ < fileBodyMin;
    bool prepared = true;
    if (currentIsFolder_) {
        prepared = storage_->prepareFolder(currentRelativePath_, error);
    } else if (storedLater_) {
        prepared = storage_->prepareStore(error);
        smallBody_.clear();
        if (prepared && !smallFiles_) {
            smallFiles_ = std::make_unique<SmallFileStore>(*storage_);
        }
    } else if (!isText()) {
        prepared = (!smallFiles_ || smallFiles_->settle(currentRelativePath_, error)) &&
                   storage_->prepareFile(currentRelativePath_, error);
    }
    if (!prepared) {
        fail(error);
        return;
    }
    doNextChunk();
}

// Before the first element is stored: the host may refuse the stream, or ask its user. While
// asking, no read is queued, so the sender stands still on a full window and nothing is
// written; the question's own deadline is the only one that runs.
bool VeltoIncomingTransfer::holdsForScreening() {
    if (!hosting_.check) {
        return false;
    }
    ContentVerdict verdict = hosting_.check(*this, isText());
    switch (verdict.decision) {
        case ReceiveDecision::Receive:
            return false;
        case ReceiveDecision::Refuse:
            fail("not received from this sender", TransferOutcome::refused);
            return true;
        case ReceiveDecision::Ask:
            if (!questionDeadline_) {
                fail("nobody can be asked", TransferOutcome::refused);
                return true;
            }
            ask(std::move(verdict.release));
            return true;
    }
    return false;
}

void VeltoIncomingTransfer::ask(std::function<void()> release) {
    state_ = State::asking;
    releaseQuestion_ = std::move(release);
    const double timeout = questionTimeout();
    diagnostic("Incoming transfer asks; deadline", timeout);
    questionDeadline_->start(timeout, [self = shared_from_this(), timeout] {
        std::ostringstream reason;
        reason << "the question was not answered within " << timeout << " s";
        self->answer(false, reason.str());
    });
    if (delegate_) {
        delegate_->incomingTransferWithQuestion(*this, elementCount_, totalSize_, currentName_);
    }
}

void VeltoIncomingTransfer::accept() {
    onQueue([](VeltoIncomingTransfer& self) { self.answer(true, {}); });
}

void VeltoIncomingTransfer::decline() {
    onQueue([](VeltoIncomingTransfer& self) { self.answer(false, "declined"); });
}

void VeltoIncomingTransfer::cancel() {
    onQueue([](VeltoIncomingTransfer& self) {
        self.fail("cancelled on this computer", TransferOutcome::cancelled);
    });
}

void VeltoIncomingTransfer::answer(bool accepted, const std::string& reason) {
    if (state_ != State::asking) {
        return;
    }
    endQuestion();
    if (!accepted) {
        fail(reason, TransferOutcome::declined);
        return;
    }
    diagnostic("Incoming transfer accepted");
    state_ = State::reading;
    startElement();
}

void VeltoIncomingTransfer::endQuestion() {
    if (questionDeadline_) {
        questionDeadline_->cancel();
    }
    if (auto release = std::exchange(releaseQuestion_, {})) {
        release();
    }
}

void VeltoIncomingTransfer::onQueue(std::function<void(VeltoIncomingTransfer&)> work) {
    if (!hosting_.queue || hosting_.queue->isCurrent()) {
        work(*this);
        return;
    }
    hosting_.queue->async([self = shared_from_this(), work = std::move(work)] { work(*self); });
}

void VeltoIncomingTransfer::doNextChunk() {
    // A large file's body goes from the connection into the file in one piece, without passing
    // through this transfer's memory; small ones are read like the headers around them.
    bodyIntoFile_ = queuedSize_ == 0 && currentElementSize_ >= fileBodyMin && !isText() &&
                    socket_->movesFileBodies();
    if (bodyIntoFile_) {
        socket_->readIntoFile(storage_->fileDescriptor(), currentElementSize_, bodyReadTimeout,
                              tagFileBody);
        queuedSize_ = currentElementSize_;
    } else if (queuedSize_ < currentElementSize_) {
        const int reads = queuedSize_ == 0 ? maxBodyReadsInFlight : 1;
        for (int i = 0; i < reads && queuedSize_ < currentElementSize_; ++i) {
            const std::uint64_t length = std::min(bodyReadSize, currentElementSize_ - queuedSize_);
            socket_->readDataToLength(static_cast<std::size_t>(length), bodyReadTimeout,
                                      tagFileBody);
            queuedSize_ += length;
        }
    } else if (currentSize_ >= currentElementSize_) {
        completeElement();
    }
}

// The file already holds what arrived in pieces before the read completed; the rest goes now.
void VeltoIncomingTransfer::bodyChunkRead(Bytes data) {
    const std::size_t length = data.size();
    if (isText()) {
        textBuffer_->insert(textBuffer_->end(), data.begin(), data.end());
    } else if (storedLater_ && smallBody_.empty()) {
        smallBody_ = std::move(data);
    } else if (storedLater_) {
        smallBody_.insert(smallBody_.end(), data.begin(), data.end());
    } else {
        const std::size_t stored = std::min<std::uint64_t>(partialStored_, data.size());
        std::string error;
        if (!storage_->write(data.data() + stored, data.size() - stored, error)) {
            fail(error);
            return;
        }
    }
    ChunkPool::give(std::move(data));
    partialSize_ = 0;
    partialStored_ = 0;
    lastReportedPartialSize_ = 0;
    currentSize_ += length;
    diagnostic("Incoming chunk: ", length, currentSize_, currentElementSize_);
    reportProgress(currentElementPlusOne_ - 1, byteFinished_ + currentSize_, true);
    doNextChunk();
}

void VeltoIncomingTransfer::bodyStored() {
    bodyIntoFile_ = false;
    partialSize_ = 0;
    lastReportedPartialSize_ = 0;
    currentSize_ = currentElementSize_;
    reportProgress(currentElementPlusOne_ - 1, byteFinished_ + currentSize_, true);
    doNextChunk();
}

void VeltoIncomingTransfer::socketDidFailFile(int error) {
    fail(std::string("cannot write a received file: ") + std::strerror(error));
}

void VeltoIncomingTransfer::socketDidReadPartialData(std::size_t length, long tag) {
    if (tag != tagFileBody || state_ != State::reading) {
        return;
    }
    partialSize_ += length;
    if (partialSize_ >= lastReportedPartialSize_ + partialReportStep) {
        lastReportedPartialSize_ = partialSize_;
        reportProgress(currentElementPlusOne_ - 1, byteFinished_ + currentSize_ + partialSize_,
                       true);
    }
}

// A piece of a file body is written while it is still in the cache, rather than read back from
// memory once the whole 10 MiB chunk is in.
void VeltoIncomingTransfer::socketDidReadPartialBytes(const std::uint8_t* bytes, std::size_t length,
                                                      long tag) {
    if (tag == tagFileBody && state_ == State::reading && !isText() && !storedLater_) {
        std::string error;
        if (!storage_->write(bytes, length, error)) {
            fail(error);
            return;
        }
        partialStored_ += length;
    }
    socketDidReadPartialData(length, tag);
}

void VeltoIncomingTransfer::completeElement() {
    byteFinished_ += currentSize_;
    currentSize_ = 0;
    queuedSize_ = 0;
    diagnostic("Finished file");
    std::string error;
    // The report that says every element is done comes once every file is stored.
    const bool last = currentElementPlusOne_ == elementCount_;
    const bool stored = storedLater_ ? smallFiles_->add(currentRelativePath_,
                                                        std::exchange(smallBody_, {}), error) &&
                                           (!last || smallFiles_->finish(error))
                                     : storage_->closeFile(error);
    if (!stored) {
        fail(error);
        return;
    }
    reportProgress(currentElementPlusOne_, byteFinished_, true);
    if (isText()) {
        const std::string text = withValidUtf8(textOf(*textBuffer_));
        textBuffer_.reset();
        if (delegate_) {
            delegate_->incomingTransferWithReceivedText(*this, text);
        }
    }
    doNextFile();
}

void VeltoIncomingTransfer::completeTransfer() {
    diagnostic("Finished transfer");
    socket_->disconnect();
    std::optional<std::string> published;
    std::string error;
    if (smallFiles_ && !smallFiles_->finish(error)) {
        fail(error);
        return;
    }
    smallFiles_.reset();
    if (!storage_->publish(published, error)) {
        fail(error);
        return;
    }
    state_ = State::ended;
    outcome_ = TransferOutcome::finished;
    if (published && delegate_) {
        delegate_->incomingTransferWithReceivedFile(*this, *published);
    }
    if (delegate_) {
        delegate_->incomingTransferWithFinished(*this);
    }
}

void VeltoIncomingTransfer::fail(const std::string& reason, TransferOutcome outcome) {
    if (state_ == State::ended) {
        return;
    }
    endQuestion();
    failureReason_ = reason;
    state_ = State::ended;
    outcome_ = outcome;
    diagnostic("Incoming transfer failed:", reason);
    smallFiles_.reset();  // before the folder its helper may still write into goes
    storage_->discard();
    textBuffer_.reset();
    // A reset, not an end of stream: a sender whose every byte had arrived must still learn
    // that its stream was not taken.
    socket_->disconnectWithReset();
    if (delegate_) {
        delegate_->incomingTransferWithFailed(*this);
    }
}

void VeltoIncomingTransfer::abandon() {
    fail("the receiver stopped");
}

void VeltoIncomingTransfer::socketDidDisconnect(const std::string& error) {
    fail(error.empty() ? "the connection was closed before the end" : error);
}

void VeltoIncomingTransfer::reportProgress(std::uint64_t itemFinished, std::uint64_t byteFinished,
                                           bool withName) {
    if (!delegate_) {
        return;
    }
    if (withName) {
        delegate_->incomingTransferWithProgress(*this, elementCount_, itemFinished, totalSize_,
                                                byteFinished, currentName_, currentPath_);
    } else {
        delegate_->incomingTransferWithProgress(*this, elementCount_, itemFinished, totalSize_,
                                                byteFinished, std::nullopt, std::nullopt);
    }
}

}  // namespace velto

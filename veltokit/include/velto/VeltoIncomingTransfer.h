#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"
#include "velto/Export.h"
#include "velto/ReceivePolicy.h"
#include "velto/TransferOutcome.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeer.h"

namespace velto {

class IncomingStorage;
class SmallFileStore;
class OperationTimer;
class TcpConnection;

// Reads one incoming stream and stores what it carries: stream header, then per element its
// name byte by byte, its size and its body in reads of at most 10 MiB, four at a time. Folders
// and files go to a hidden intermediate folder and are published into the destination at the
// end; a lone text is handed to the delegate. A broken, refused or hostile stream leaves nothing
// behind and ends with incomingTransferWithFailed.
class VELTO_EXPORT VeltoIncomingTransfer
    : public std::enable_shared_from_this<VeltoIncomingTransfer> {
  public:
    static constexpr long tagMetadata = 1;
    static constexpr long tagFileSize = 2;
    static constexpr long tagFileBody = 3;
    static constexpr long tagFileName = 4;
    // Counted from the last byte that arrived, not from the start of a read: a 10 MiB chunk on
    // a slow link takes as long as it takes while bytes keep coming.
    static constexpr double headerReadTimeout = 5.0;  // stream header, name bytes, sizes
    static constexpr double bodyReadTimeout = 60.0;
    static constexpr std::uint64_t bodyReadSize = 10'485'760;
    static constexpr int maxBodyReadsInFlight = 4;
    static constexpr std::uint64_t fileBodyMin = 64 * 1024;  // bodies stored by the connection
    static constexpr std::uint64_t partialReportStep = 1'024'000;
    // A text is held in memory whole; one larger than this is refused.
    static constexpr std::uint64_t maxTextSize = 64ull * 1024 * 1024;
    // How long a question waits for its answer before it counts as declined. The environment
    // variable VELTO_QUESTION_TIMEOUT (seconds) shortens it, for tests.
    static constexpr double questionTimeoutDefault = 60.0;
    static double questionTimeout();

    // What the receiving host says of a stream once its first element's header is known. An
    // Ask holds a place among the questions pending; release is called once the question is
    // over (answered, given up or the transfer ended), on the transfer's queue.
    struct ContentVerdict {
        ReceiveDecision decision = ReceiveDecision::Receive;
        std::function<void()> release{};
    };
    using ContentCheck =
        std::function<ContentVerdict(const VeltoIncomingTransfer& transfer, bool isText)>;
    // How the receiving host runs the transfer. queue is the connection's: answers and cancels
    // from other threads go there, and the question's deadline runs on it (without it they
    // must come on that queue, and nothing is asked). check screens the content (empty: all
    // of it is received).
    struct Hosting {
        std::shared_ptr<DispatchQueue> queue{};
        ContentCheck check{};
    };

    ~VeltoIncomingTransfer();

    // Removes intermediate folders in basePath (empty: Downloads) that no running transfer
    // holds, left over by an earlier run that ended abruptly. Returns how many.
    static std::size_t removeLeftoverIntermediateFolders(const std::string& basePath = {});

    const std::string& key() const;
    // The remote address while connected (the sender's peer key).
    std::optional<std::string> remoteHost() const;
    std::optional<VeltoPeer> peer() const;  // set by the delegate
    void setPeer(VeltoPeer peer);
    // True once the transfer has finished or failed: it reports nothing more. Any thread.
    bool hasEnded() const { return outcome_ != TransferOutcome::running; }
    // True while the question waits for its answer. Any thread.
    bool isAsking() const { return state_ == State::asking; }
    TransferOutcome outcome() const { return outcome_; }
    // Why the transfer failed, in words; read it in the failed report or after it.
    const std::string& failureReason() const { return failureReason_; }
    // Ends a running transfer as failed, keeping nothing of it; on the connection's queue.
    void abandon();
    // The answer to the question. Accepting goes on with the stream as if nothing had been
    // asked; declining closes the connection, keeping nothing. Ignored unless asking.
    void accept();
    void decline();
    // Closes the connection at once and keeps nothing; reported failed, outcome cancelled.
    // These three may be called from any thread when the host gave the transfer its queue
    // (Hosting), else on the connection's queue only.
    void cancel();

    // State as last read; for the delegate, on the transfer's queue.
    std::uint64_t elementCount() const { return elementCount_; }
    std::uint64_t totalSize() const { return totalSize_; }
    const std::string& basePath() const { return basePath_; }
    const std::string& currentBasePath() const;
    std::chrono::system_clock::time_point startTime() const { return startTime_; }

  private:
    friend class TransferConnections;  // hands accepted connections over
    // What the connection reports, kept out of this class's interface.
    class ConnectionEvents;
    enum class State { reading, asking, ended };

    // Takes the accepted connection over, reports created and queues the first read. Runs on
    // the connection's queue. basePath is the destination folder; empty means the user's
    // Downloads folder.
    static std::shared_ptr<VeltoIncomingTransfer> create(
        std::shared_ptr<TcpConnection> socket, std::string key,
        std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath = {});
    static std::shared_ptr<VeltoIncomingTransfer> create(
        std::shared_ptr<TcpConnection> socket, std::string key,
        std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath,
        Hosting hosting);
    VeltoIncomingTransfer(std::shared_ptr<TcpConnection> socket, std::string key,
                          std::shared_ptr<VeltoIncomingTransferDelegate> delegate,
                          std::string basePath, Hosting hosting);

    void socketDidRead(Bytes data, long tag);
    void socketDidReadPartialData(std::size_t length, long tag);
    void socketDidReadPartialBytes(const std::uint8_t* bytes, std::size_t length, long tag);
    void socketDidFailFile(int error);
    void socketDidDisconnect(const std::string& error);

    void begin();
    void streamHeaderRead(const Bytes& data);
    void nameRead(const Bytes& data);
    void sizeRead(const Bytes& data);
    bool holdsForScreening();  // true when the stream does not go on now
    void ask(std::function<void()> release);
    void answer(bool accepted, const std::string& reason);
    void endQuestion();
    void startElement();
    void onQueue(std::function<void(VeltoIncomingTransfer&)> work);
    void bodyChunkRead(Bytes data);
    void bodyStored();
    void doNextFile();
    void doNextChunk();
    void completeElement();
    void completeTransfer();
    void fail(const std::string& reason, TransferOutcome outcome = TransferOutcome::failed);
    void reportProgress(std::uint64_t itemFinished, std::uint64_t byteFinished, bool withName);
    bool isText() const { return textBuffer_.has_value(); }

    std::unique_ptr<ConnectionEvents> connectionEvents_;
    std::shared_ptr<TcpConnection> socket_;
    std::string key_;
    std::shared_ptr<VeltoIncomingTransferDelegate> delegate_;
    mutable std::mutex peerMutex_;  // the delegate may set the peer from another thread
    std::optional<VeltoPeer> peer_;

    std::uint64_t elementCount_ = 0;
    std::uint64_t totalSize_ = 0;
    std::uint64_t byteFinished_ = 0;        // body bytes of completed elements
    std::uint64_t currentElementSize_ = 0;  // 0 for a folder
    bool currentIsFolder_ = false;
    std::uint64_t currentElementPlusOne_ = 0;  // 1-based number of the current element
    std::uint64_t currentSize_ = 0;            // body bytes of completed reads
    std::uint64_t partialSize_ = 0;            // bytes of the read in progress
    std::uint64_t partialStored_ = 0;          // of those, already in the file
    std::uint64_t lastReportedPartialSize_ = 0;
    std::uint64_t queuedSize_ = 0;  // body bytes for which reads are queued
    bool bodyIntoFile_ = false;     // the connection stores the body in the file itself
    bool storedLater_ = false;      // a small file, handed to smallFiles_ once read whole
    Bytes smallBody_;               // its body
    std::string currentName_;       // as received
    std::string currentRelativePath_;
    std::string currentPath_;  // inside the intermediate folder; empty for a text
    std::optional<Bytes> textBuffer_;

    std::string basePath_;
    std::chrono::system_clock::time_point startTime_;
    std::unique_ptr<IncomingStorage> storage_;
    std::unique_ptr<SmallFileStore> smallFiles_;  // made with the first small file
    std::string setupFailure_;
    Hosting hosting_;
    std::unique_ptr<OperationTimer> questionDeadline_;  // while asking
    std::function<void()> releaseQuestion_;
    std::string failureReason_;
    std::atomic<State> state_ = State::reading;
    std::atomic<TransferOutcome> outcome_ = TransferOutcome::running;
};

}  // namespace velto

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "velto/Bytes.h"
#include "velto/Export.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeer.h"

namespace velto {

class IncomingStorage;
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
    static constexpr std::uint64_t partialReportStep = 1'024'000;
    // A text is held in memory whole; one larger than this is refused.
    static constexpr std::uint64_t maxTextSize = 64ull * 1024 * 1024;

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
    bool hasEnded() const { return state_ != State::reading; }
    // Ends a running transfer as failed, keeping nothing of it; on the connection's queue.
    void abandon();

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
    enum class State { reading, completed, failed };

    // Takes the accepted connection over, reports created and queues the first read. Runs on
    // the connection's queue. basePath is the destination folder; empty means the user's
    // Downloads folder.
    static std::shared_ptr<VeltoIncomingTransfer> create(
        std::shared_ptr<TcpConnection> socket, std::string key,
        std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath = {});
    VeltoIncomingTransfer(std::shared_ptr<TcpConnection> socket, std::string key,
                          std::shared_ptr<VeltoIncomingTransferDelegate> delegate,
                          std::string basePath);

    void socketDidRead(Bytes data, long tag);
    void socketDidReadPartialData(std::size_t length, long tag);
    void socketDidReadPartialBytes(const std::uint8_t* bytes, std::size_t length, long tag);
    void socketDidDisconnect(const std::string& error);

    void begin();
    void streamHeaderRead(const Bytes& data);
    void nameByteRead(std::uint8_t byte);
    void nameComplete();
    void sizeRead(const Bytes& data);
    void bodyChunkRead(Bytes data);
    void doNextFile();
    void doNextChunk();
    void completeElement();
    void completeTransfer();
    void fail(const std::string& reason);
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
    std::uint64_t byteFinished_ = 0;           // body bytes of completed elements
    std::uint64_t currentElementSize_ = 0;     // 0 for a folder
    std::uint64_t currentElementPlusOne_ = 0;  // 1-based number of the current element
    std::uint64_t currentSize_ = 0;            // body bytes of completed reads
    std::uint64_t partialSize_ = 0;            // bytes of the read in progress
    std::uint64_t partialStored_ = 0;          // of those, already in the file
    std::uint64_t lastReportedPartialSize_ = 0;
    std::uint64_t queuedSize_ = 0;  // body bytes for which reads are queued
    std::string currentName_;       // as received
    std::string currentRelativePath_;
    std::string currentPath_;  // inside the intermediate folder; empty for a text
    Bytes currentNameBuffer_;
    std::optional<Bytes> textBuffer_;

    std::string basePath_;
    std::chrono::system_clock::time_point startTime_;
    std::unique_ptr<IncomingStorage> storage_;
    std::string setupFailure_;
    std::atomic<State> state_ = State::reading;
};

}  // namespace velto

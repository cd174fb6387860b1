#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "velto/DispatchQueue.h"
#include "velto/Export.h"
#include "velto/TransferOutcome.h"
#include "velto/VeltoItem.h"
#include "velto/VeltoPeer.h"
#include "velto/VeltoTransferDelegate.h"

namespace velto {

class OperationTimer;
class TcpConnection;
class TcpConnectionDelegate;
class VeltoFile;

using ItemList = std::vector<std::shared_ptr<VeltoItem>>;

// A chosen path, or an entry under it, that the element list leaves out, and why.
struct SkippedPath {
    std::string path;
    std::string reason;
};

// Pushes one element list to one peer over one TCP connection: the 16-byte stream header, then
// each element's header and body, one write at a time, each step started from the completion
// of the previous write. Every report arrives on the transfer's queue.
class VELTO_EXPORT VeltoTransfer : public std::enable_shared_from_this<VeltoTransfer> {
  public:
    static constexpr long tagMetadata = 1;
    static constexpr long tagFileHeader = 2;
    static constexpr long tagFileBody = 3;
    // Time-outs count from the last byte that moved, so a slow but steady link never ends a
    // transfer; a receiver that stopped reading does. Every one is longer than a receiver's
    // question to its user (60 s), so that a question answered in time never fails a transfer.
    static constexpr double headerWriteTimeout = 90.0;
    static constexpr double bodyStallTimeout = 90.0;
    // After this long without a byte moving, the delegate hears transferWithWaiting.
    static constexpr double waitingAfter = 3.0;
    // Files larger than this go from the file to the connection without passing through the
    // transfer, all but their last fileBodyTail bytes; smaller ones and those last bytes are
    // read, with one byte more that tells a file that grew before its body is complete.
    static constexpr std::uint64_t fileBodyTail = 64 * 1024;

    static ItemList itemsForText(const std::string& text);
    static ItemList itemsForPaths(const std::vector<std::string>& paths);
    // The same list; skipped receives what was left out (cannot be listed or read, not a
    // regular file, a link to nothing or back into its own folder).
    static ItemList itemsForPaths(const std::vector<std::string>& paths,
                                  std::vector<SkippedPath>& skipped);
    // The same list and what it leaves out, made on a thread of its own, so that listing a large
    // folder holds up no queue; listed runs on replyQueue.
    using ItemsListed = std::function<void(ItemList items, std::vector<SkippedPath> skipped)>;
    static void itemsForPaths(std::vector<std::string> paths,
                              std::shared_ptr<DispatchQueue> replyQueue, ItemsListed listed);

    static std::shared_ptr<VeltoTransfer> create(ItemList items, VeltoPeer peer,
                                                 std::shared_ptr<DispatchQueue> dispatchQueue);
    ~VeltoTransfer();

    void setDelegate(std::shared_ptr<VeltoTransferDelegate> delegate);
    void setKey(std::string key);
    const std::string& key() const;
    const VeltoPeer& peer() const;
    const ItemList& items() const { return items_; }
    std::uint64_t totalSize() const { return totalSize_; }
    const std::shared_ptr<DispatchQueue>& dispatchQueue() const { return dispatchQueue_; }

    // Connects and sends; the work runs on the transfer's queue. Call once.
    void start();
    // Closes the connection at once; reported failed, outcome cancelled. Any thread.
    void cancel();
    TransferOutcome outcome() const;
    // True once the transfer has finished or failed: it reports nothing more. Any thread.
    bool hasEnded() const;
    // Why the transfer failed, in words; empty unless it did. Read it in the failed report or,
    // from another thread, after that report.
    const std::string& failureReason() const { return failureReason_; }

  protected:
    VeltoTransfer(ItemList items, VeltoPeer peer, std::shared_ptr<DispatchQueue> dispatchQueue);

  private:
    friend class TransferConnections;  // puts another connection in place of the socket
    // What the connection reports, kept out of this class's interface.
    class ConnectionEvents;
    using ConnectionFactory = std::function<std::shared_ptr<TcpConnection>(
        std::weak_ptr<TcpConnectionDelegate> delegate, std::shared_ptr<DispatchQueue> queue)>;

    enum class State { created, connecting, sending, closing, finished, failed };

    // Call before start().
    void setConnectionFactory(ConnectionFactory factory);
    void socketDidConnect(const std::string& host, std::uint16_t port);
    void socketDidWrite(long tag);
    void socketDidWritePartialData(std::size_t length, long tag);
    double socketShouldTimeoutWrite(long tag, double elapsed, std::size_t bytesDone);
    void socketDidFailFile(int error);
    void socketDidDisconnect(const std::string& error);

    void connect();
    void reportRenamedItems();
    void writeElementHeader();
    void nextChunk();
    bool sendFromFile(VeltoItem& item);
    void bodyChunkWritten();
    void finish();
    void fail(const std::string& reason, TransferOutcome outcome = TransferOutcome::failed);
    void reportProgress(std::uint64_t byteFinished);
    void bytesMoved();
    void watchForWaiting(double seconds);
    void checkWaiting();

    // Progress of the current element and of the whole list.
    std::uint64_t transferedItemSize_ = 0;      // body bytes whose writes completed
    std::uint64_t transferedItemPosition_ = 0;  // body bytes read and queued
    std::uint64_t transferedSize_ = 0;          // sizes of the completed elements
    std::size_t transferedCount_ = 0;           // completed elements = index of the current
    std::uint64_t partialSize_ = 0;             // partial-write bytes of the current chunk

    ItemList items_;
    std::uint64_t totalSize_ = 0;
    VeltoPeer peer_;
    std::shared_ptr<DispatchQueue> dispatchQueue_;
    std::unique_ptr<ConnectionEvents> connectionEvents_;
    std::shared_ptr<TcpConnection> socket_;
    std::shared_ptr<VeltoTransferDelegate> delegate_;
    std::string key_;
    std::string failureReason_;
    ConnectionFactory connectionFactory_;
    std::atomic<State> state_ = State::created;
    std::atomic<bool> cancelled_ = false;
    std::unique_ptr<OperationTimer> waitingWatch_;  // from the connection on
    std::chrono::steady_clock::time_point lastMoved_{};
    bool waiting_ = false;
    VeltoFile* fileBody_ = nullptr;  // the element whose body the connection takes from its file
};

}  // namespace velto

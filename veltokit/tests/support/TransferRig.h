#pragma once

#include <functional>
#include <memory>
#include <string>

#include "support/RawTcpPeer.h"
#include "support/RecordingDelegates.h"
#include "support/WatchedConnection.h"
#include "velto/DispatchQueue.h"
#include "velto/TransferConnections.h"
#include "velto/VeltoTransfer.h"

namespace velto::test {

// An outgoing transfer to a raw peer over loopback, whose small receive window lets a test hold
// the transfer's writes up by not reading.
struct SendingRig {
    explicit SendingRig(ItemList items, double timeScale = 1);
    ~SendingRig();
    void start() { transfer->start(); }
    Bytes receiveAll();  // takes the connection, reads until the transfer closes it, closes

    RawTcpPeer peer{64 * 1024};
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("outgoing");
    std::shared_ptr<WatchedConnection> connection;
    std::shared_ptr<RecordingTransferDelegate> delegate =
        std::make_shared<RecordingTransferDelegate>();
    std::shared_ptr<VeltoTransfer> transfer;
};

// An incoming transfer storing into basePath, fed by a raw peer over loopback.
struct ReceivingRig {
    explicit ReceivingRig(std::string basePath, double timeScale = 1);
    ~ReceivingRig();
    void create();  // connects, then builds the transfer on its queue
    // Sends raw stream bytes; ends the stream after them unless keepOpen.
    void send(const Bytes& bytes, bool keepOpen = false, std::size_t maxPiece = 0);

    std::string basePath;
    RawTcpPeer peer;
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("incoming");
    std::shared_ptr<WatchedConnection> connection;
    std::shared_ptr<RecordingIncomingDelegate> delegate =
        std::make_shared<RecordingIncomingDelegate>();
    std::shared_ptr<VeltoIncomingTransfer> transfer;
};

// Polls done for up to 20 s; its last answer.
bool waitUntil(const std::function<bool()>& done);

}  // namespace velto::test

#pragma once

#include <memory>
#include <string>

#include "support/MemoryConnection.h"
#include "support/RecordingDelegates.h"
#include "velto/DispatchQueue.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoTransfer.h"

namespace velto::test {

// An outgoing transfer whose connection is one end of an in-memory pair; the other end
// (remote) collects what arrives unless a test says otherwise.
struct SendingRig {
    explicit SendingRig(ItemList items);
    ~SendingRig();
    void start() { transfer->start(); }

    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("outgoing");
    std::shared_ptr<DispatchQueue> remoteQueue = DispatchQueue::create("remote");
    std::shared_ptr<MemoryConnection> local;
    std::shared_ptr<MemoryConnection> remote;
    std::shared_ptr<RecordingTransferDelegate> delegate =
        std::make_shared<RecordingTransferDelegate>();
    std::shared_ptr<VeltoTransfer> transfer;
};

// An incoming transfer storing into basePath, fed from the other end of an in-memory pair.
struct ReceivingRig {
    explicit ReceivingRig(std::string basePath);
    ~ReceivingRig();
    void create();  // the accept: builds the transfer on its queue
    // Sends raw stream bytes; ends the stream after them unless keepOpen.
    void send(const Bytes& bytes, bool keepOpen = false);

    std::string basePath;
    std::shared_ptr<DispatchQueue> queue = DispatchQueue::create("incoming");
    std::shared_ptr<DispatchQueue> remoteQueue = DispatchQueue::create("remote");
    std::shared_ptr<MemoryConnection> local;
    std::shared_ptr<MemoryConnection> remote;
    std::shared_ptr<RecordingIncomingDelegate> delegate =
        std::make_shared<RecordingIncomingDelegate>();
    std::shared_ptr<VeltoIncomingTransfer> transfer;
};

// An outgoing transfer connected to an incoming one.
struct LoopRig {
    LoopRig(ItemList items, std::string basePath, std::shared_ptr<DispatchQueue> outgoing,
            std::shared_ptr<DispatchQueue> incoming);
    std::shared_ptr<RecordingTransferDelegate> sender =
        std::make_shared<RecordingTransferDelegate>();
    std::shared_ptr<RecordingIncomingDelegate> receiver =
        std::make_shared<RecordingIncomingDelegate>();
    std::shared_ptr<MemoryConnection> sendingEnd;
    std::shared_ptr<MemoryConnection> receivingEnd;
    std::shared_ptr<VeltoTransfer> transfer;
    std::shared_ptr<VeltoIncomingTransfer> incoming;
};

}  // namespace velto::test

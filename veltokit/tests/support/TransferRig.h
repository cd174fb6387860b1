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

}  // namespace velto::test

#pragma once

#include <memory>
#include <string>
#include <utility>

#include "velto/TcpConnection.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoTransfer.h"

namespace velto {

// Where a transfer's connection comes from: the server hands accepted sockets over, and tests,
// fuzz targets and benchmarks put in-memory connections in place of the socket.
class TransferConnections {
  public:
    using Factory = VeltoTransfer::ConnectionFactory;

    // Replaces the TCP socket the transfer would connect with; call before start().
    static void connectThrough(VeltoTransfer& transfer, Factory factory) {
        transfer.setConnectionFactory(std::move(factory));
    }

    // Takes the accepted connection over, reports created and queues the first read. Runs on
    // the connection's queue. basePath is the destination folder; empty means the user's
    // Downloads folder.
    static std::shared_ptr<VeltoIncomingTransfer> receive(
        std::shared_ptr<TcpConnection> connection, std::string key,
        std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath = {}) {
        return VeltoIncomingTransfer::create(std::move(connection), std::move(key),
                                             std::move(delegate), std::move(basePath));
    }
    // The same, run by a host that screens the content and answers from other threads.
    static std::shared_ptr<VeltoIncomingTransfer> receive(
        std::shared_ptr<TcpConnection> connection, std::string key,
        std::shared_ptr<VeltoIncomingTransferDelegate> delegate, std::string basePath,
        VeltoIncomingTransfer::Hosting hosting) {
        return VeltoIncomingTransfer::create(std::move(connection), std::move(key),
                                             std::move(delegate), std::move(basePath),
                                             std::move(hosting));
    }
};

}  // namespace velto

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "velto/AsyncTcpListener.h"
#include "velto/AsyncUdpSocket.h"
#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"
#include "velto/PeerTable.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeerDiscoveryDelegate.h"

namespace velto {

class MetadataServer;
class VeltoTransfer;
class VeltoIncomingTransfer;

// The one object of the library that faces the network: the discovery socket (UDP 4644), the
// transfer listener (TCP 4644), the metadata server (TCP 4645) and the peer table.
class VeltoServer : public std::enable_shared_from_this<VeltoServer>,
                    public UdpSocketDelegate,
                    public TcpListenerDelegate {
public:
    // Called with the fixed text when a port cannot be had. The host shows it and ends the
    // process; when the handler returns, startServer() goes on with the next endpoint.
    using PortFailureHandler = std::function<void(const std::string& message)>;

    static std::shared_ptr<VeltoServer> create();
    ~VeltoServer() override;

    // Ports. The metadata server always listens on localTcpPort + 1 as it was at creation.
    std::uint16_t localTcpPort = 4644;
    std::uint16_t localUdpPort = 4644;
    std::uint16_t defaultTcpPort = 4644;
    std::uint16_t defaultUdpPort = 4644;

    PeerTable& peers() { return peers_; }
    const PeerTable& peers() const { return peers_; }

    void setDelegate(std::shared_ptr<VeltoPeerDiscoveryDelegate> delegate);
    std::shared_ptr<VeltoPeerDiscoveryDelegate> delegate() const;
    void setIncomingDelegate(std::shared_ptr<VeltoIncomingTransferDelegate> delegate);
    std::shared_ptr<VeltoIncomingTransferDelegate> incomingDelegate() const;
    void setPortFailureHandler(PortFailureHandler handler);

    const std::shared_ptr<DispatchQueue>& broadcastDispatchQueue() const { return broadcastQueue_; }
    const std::shared_ptr<DispatchQueue>& incomingDispatchQueue() const { return incomingQueue_; }

    void startServer();

    void sayHello();
    void sayHello(const std::string& dest);
    void sayHello(const std::string& dest, std::uint16_t port);
    void sayGoodbye();
    void sayGoodbye(const std::string& dest);
    void sayGoodbye(const std::string& dest, std::uint16_t port);

    Bytes createHelloPacket(const std::string& dest, std::uint16_t port) const;
    Bytes createGoodbyePacket(const std::string& dest, std::uint16_t port) const;
    std::string getSystemSignature() const;
    std::vector<std::string> findBroadcastAddress() const;
    bool isLocalPeer(const std::string& sender) const;

    void startTransfer(const std::shared_ptr<VeltoTransfer>& transfer);

    // Handling of one datagram, callable without a socket (tests and fuzzing).
    void handleDatagram(const Bytes& data, const std::string& sender);
    void handleAvatar(const PeerTable::Record& peer);

    // UdpSocketDelegate, TcpListenerDelegate
    void udpSocketDidReceive(AsyncUdpSocket& sock, const Bytes& data, const std::string& host,
                             std::uint16_t port) override;
    void socketDidAcceptNewSocket(AsyncTcpListener& listener,
                                  std::shared_ptr<AsyncTcpSocket> newSocket) override;

protected:
    VeltoServer();

private:
    PeerTable peers_;
    std::shared_ptr<DispatchQueue> broadcastQueue_;
    std::shared_ptr<DispatchQueue> incomingQueue_;
    std::shared_ptr<AsyncUdpSocket> udpSocket_;
    std::shared_ptr<AsyncTcpListener> listenSocket_;
    std::unique_ptr<MetadataServer> metadataServer_;

    mutable std::mutex mutex_;  // guards the delegates, the handler and the transfer lists
    std::shared_ptr<VeltoPeerDiscoveryDelegate> delegate_;
    std::shared_ptr<VeltoIncomingTransferDelegate> incomingDelegate_;
    PortFailureHandler portFailureHandler_;
    std::vector<std::shared_ptr<VeltoTransfer>> pendingTransfers_;
    std::vector<std::shared_ptr<VeltoIncomingTransfer>> pendingIncomingTransfers_;
};

}  // namespace velto

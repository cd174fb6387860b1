#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "velto/Bytes.h"
#include "velto/DispatchQueue.h"
#include "velto/Export.h"
#include "velto/PeerTable.h"
#include "velto/ReceivePolicy.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeerDiscoveryDelegate.h"

namespace velto {

class AsyncTcpListener;
class AsyncTcpSocket;
class AsyncUdpSocket;
class AvatarFetcher;
struct AvatarResponse;
class DatagramSender;
class LocalMachine;
class MetadataServer;
class PendingQuestions;
class VeltoTransfer;
class VeltoIncomingTransfer;

// The one object of the library that faces the network: the discovery socket (UDP 4644), the
// transfer listener (TCP 4644), the metadata server (TCP 4645) and the peer table.
class VELTO_EXPORT VeltoServer : public std::enable_shared_from_this<VeltoServer> {
  public:
    // Called with the fixed text when a port cannot be had. The host shows it and ends the
    // process; when the handler returns, startServer() goes on with the next endpoint.
    using PortFailureHandler = std::function<void(const std::string& message)>;

    static std::shared_ptr<VeltoServer> create();
    ~VeltoServer();

    // Ports. The metadata server always listens on localTcpPort + 1 as it was at creation.
    std::uint16_t localTcpPort = 4644;
    std::uint16_t localUdpPort = 4644;
    std::uint16_t defaultTcpPort = 4644;
    std::uint16_t defaultUdpPort = 4644;
    // How often a started server announces itself again to the added addresses, so that two
    // hosts that cannot hear each other's broadcasts find each other whichever starts first.
    std::chrono::milliseconds addedAddressesGreetingInterval{std::chrono::seconds(10)};

    PeerTable& peers() { return peers_; }
    const PeerTable& peers() const { return peers_; }

    void setDelegate(std::shared_ptr<VeltoPeerDiscoveryDelegate> delegate);
    std::shared_ptr<VeltoPeerDiscoveryDelegate> delegate() const;
    void setIncomingDelegate(std::shared_ptr<VeltoIncomingTransferDelegate> delegate);
    std::shared_ptr<VeltoIncomingTransferDelegate> incomingDelegate() const;
    void setPortFailureHandler(PortFailureHandler handler);

    // Who may send to this host; consulted for every incoming connection and hello. A
    // connection it refuses is closed before one byte of it is read; a blocked computer's
    // hellos are ignored, and one already listed leaves the table (reported removed). Files
    // and folders that the policy asks about wait for the incoming delegate's answer
    // (incomingTransferWithQuestion); beyond one question per sender and eight in all, they
    // are refused.
    void setReceivePolicy(ReceivePolicy policy);
    ReceivePolicy receivePolicy() const;
    // The computer at address as far as this host knows it: the signature from its hellos,
    // empty when none was heard. For a trusted or blocked address, the last one heard, even
    // after its goodbye or while its hellos are ignored.
    ComputerIdentity identityOf(const std::string& address) const;

    // Whether others see this host (on by default). Off: a goodbye leaves, announcements and
    // answers to hellos stop and the picture server answers as if there were no picture; this
    // host still hears the others and can send to them. On again: it announces itself at once.
    void setVisible(bool visible);
    bool isVisible() const;

    // Where incoming transfers store what they receive; empty (the default) means the user's
    // Downloads folder. Transfers already running keep theirs.
    void setReceivingFolder(std::string folder);
    std::string receivingFolder() const;

    const std::shared_ptr<DispatchQueue>& broadcastDispatchQueue() const { return broadcastQueue_; }
    const std::shared_ptr<DispatchQueue>& incomingDispatchQueue() const { return incomingQueue_; }

    void startServer();

    // Called once with "" when every datagram of a send left, else with the first reason.
    using SendCompletion = std::function<void(const std::string& error)>;

    // Addresses the user added by hand, for networks that drop broadcasts: every
    // announcement (sayHello()) and goodbye (sayGoodbye()) also goes to each, unicast.
    // They are greeted again every addedAddressesGreetingInterval while the server runs.
    void setAddedAddresses(std::vector<std::string> addresses);
    std::vector<std::string> addedAddresses() const;

    // An announcement to one address only, unicast: the host there adds this one and answers,
    // so that each lists the other where broadcasts do not pass. Unlike sayHello(dest:), which
    // is the reply that is never answered.
    void announceTo(const std::string& dest, SendCompletion done = {});

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
    // A transfer under way by its key, to answer or cancel it; null once it ended. Any thread.
    std::shared_ptr<VeltoTransfer> outgoingTransfer(const std::string& key) const;
    std::shared_ptr<VeltoIncomingTransfer> incomingTransfer(const std::string& key) const;
    // For a host on its way out, before its goodbye: stops accepting connections, ends every
    // incoming transfer still running (each reported as failed, nothing of it kept) and waits
    // until the incoming queue, which stores all that arrives, has done so; from then on
    // nothing is written. False when that was not done by the deadline (a file system or a
    // delegate that does not answer); the queue then does it whenever it gets there.
    // Discovery goes on, so that the goodbye can still be said.
    bool stopReceiving(std::chrono::steady_clock::time_point deadline);

    // Handling of one datagram, callable without a socket (tests and fuzzing).
    void handleDatagram(const Bytes& data, const std::string& sender);
    void handleAvatar(const PeerTable::Record& peer);
    // Waits until no avatar fetch is under way; false when timeout passed first.
    bool waitForAvatarFetches(std::chrono::milliseconds timeout) const;

  protected:
    VeltoServer();
    // Seams for tests and other hosts. The ports given here are the fields' starting values;
    // the metadata server takes tcpPort + 1.
    VeltoServer(std::uint16_t tcpPort, std::uint16_t udpPort);
    // Where facts about this machine come from, where datagrams go, how pictures are fetched.
    // Set them before startServer(). Whatever fetcher is given is asked for at most eight
    // pictures at once.
    void useLocalMachine(std::shared_ptr<LocalMachine> machine);
    void useDatagramSender(std::shared_ptr<DatagramSender> sender);
    void useAvatarFetcher(std::shared_ptr<AvatarFetcher> fetcher);

  private:
    // What the sockets report, kept out of this class's interface (defined with the sockets).
    class SocketEvents;
    struct GreetingTimer;

    void acceptConnection(std::shared_ptr<AsyncTcpSocket> socket);  // on the incoming queue
    VeltoIncomingTransfer::ContentCheck contentCheck();
    std::shared_ptr<LocalMachine> localMachine() const;
    std::shared_ptr<DatagramSender> datagramSender() const;
    void reportPortFailure(const std::string& message);
    void endIncomingTransfers();  // on the incoming queue
    // Sends packet to every target on port; an announcement or a goodbye from a non-standard
    // port also goes to the standard one.
    void sendToTargets(const Bytes& packet, const std::vector<std::string>& targets,
                       std::uint16_t port, bool alsoToDefaultPort, SendCompletion done = {});
    std::vector<std::string> broadcastAndAddedAddresses() const;
    void greetAddedAddressesLater();  // on the broadcast queue
    void avatarArrived(const std::string& key, const PeerTable::Record& record,
                       const std::optional<AvatarResponse>& response);
    void reportAdded(const std::string& key, const VeltoPeer& peer);
    void reportModified(const std::string& key, const VeltoPeer& peer);
    void reportRemoved(const std::string& key);
    void logPeerTable(const std::string& heard) const;
    // Whether the connection from sender is refused; says why in a diagnostic and a report.
    bool refuseConnection(const std::string& sender);
    void removeBlockedPeers();                              // on the broadcast queue
    bool isMarkedLocked(const std::string& address) const;  // with mutex_ held
    void rememberMarkedSignature(const std::string& address, const std::string& signature);

    PeerTable peers_;
    std::shared_ptr<DispatchQueue> broadcastQueue_;
    std::shared_ptr<DispatchQueue> incomingQueue_;
    std::shared_ptr<SocketEvents> socketEvents_;
    std::shared_ptr<AsyncUdpSocket> udpSocket_;
    std::shared_ptr<AsyncTcpListener> listenSocket_;
    std::unique_ptr<MetadataServer> metadataServer_;

    mutable std::mutex mutex_;  // guards the delegates, the handler and the transfer lists
    std::shared_ptr<VeltoPeerDiscoveryDelegate> delegate_;
    std::shared_ptr<VeltoIncomingTransferDelegate> incomingDelegate_;
    PortFailureHandler portFailureHandler_;
    std::vector<std::shared_ptr<VeltoTransfer>> pendingTransfers_;
    std::vector<std::shared_ptr<VeltoIncomingTransfer>> pendingIncomingTransfers_;
    std::shared_ptr<LocalMachine> machine_;
    std::shared_ptr<DatagramSender> sender_;
    std::shared_ptr<AvatarFetcher> fetcher_;
    std::vector<std::string> addedAddresses_;
    ReceivePolicy receivePolicy_;
    // The last signature heard from each address on the trusted or blocked list, kept after
    // a goodbye and while blocked: a computer that stopped announcing (or is ignored) is still
    // told by it when it connects. As short as the lists.
    std::map<std::string, std::string> markedSignatures_;
    bool visible_ = true;
    std::string receivingFolder_;
    std::shared_ptr<PendingQuestions> questions_;
    std::unique_ptr<GreetingTimer> greetingTimer_;  // used on the broadcast queue

    // Avatar fetches under way, so that hosts and tests can wait for them to settle.
    mutable std::mutex fetchMutex_;
    mutable std::condition_variable fetchesSettled_;
    std::size_t pendingFetches_ = 0;
};

}  // namespace velto

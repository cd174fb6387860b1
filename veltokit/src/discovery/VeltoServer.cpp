#include "velto/VeltoServer.h"

#include <algorithm>
#include <boost/asio/steady_timer.hpp>
#include <sstream>

#include "core/DispatchQueueContext.h"
#include "discovery/DiscoveryDatagram.h"
#include "discovery/HttpAvatarFetcher.h"
#include "discovery/LimitedAvatarFetcher.h"
#include "discovery/LocalMachine.h"
#include "discovery/MetadataServer.h"
#include "discovery/SystemLocalMachine.h"
#include "discovery/UdpDatagramSender.h"
#include "incoming/PendingQuestions.h"
#include "velto/AsyncTcpListener.h"
#include "velto/AsyncTcpSocket.h"
#include "velto/AsyncUdpSocket.h"
#include "velto/Base64.h"
#include "velto/Diagnostics.h"
#include "velto/NetInfo.h"

namespace velto {
namespace {

constexpr std::string_view udpFailureText =
    "Our cute velts cannot put their ears on the UDP port 4644 so they cannot hear any sounds "
    "from other velts.";
constexpr std::string_view metadataFailureText =
    "Our cute velts cannot put their ears on the TCP port 4645 so they cannot know how other "
    "velts look.";
constexpr std::string_view tcpFailureText =
    "Our cute velts cannot put their ears on the TCP port 4644 so they cannot learn any new "
    "secrets.";

constexpr std::string_view goodbyeText = "Bye Bye";
constexpr std::string_view loadingAvatar = "loading";
constexpr std::string_view avatarUrlPrefix = "data:image/png;base64,";
// Pictures asked for at once; the others wait their turn.
constexpr std::size_t avatarFetchesAtOnce = 8;
// Larger tables are logged by their size and the peer just heard.
constexpr std::size_t wholeTableLogLimit = 32;
// Used when the system gives no computer name at all (not even a host name).
constexpr std::string_view unknownComputerName = "Unknown Computer";

}  // namespace

// Datagrams and accepted connections, handed on to a server that is still there.
class VELTO_HIDDEN VeltoServer::SocketEvents : public UdpSocketDelegate,
                                               public TcpListenerDelegate {
  public:
    explicit SocketEvents(std::weak_ptr<VeltoServer> server) : server_(std::move(server)) {}

    void udpSocketDidReceive(AsyncUdpSocket& /*sock*/, const Bytes& data, const std::string& host,
                             std::uint16_t /*port*/) override {
        if (const auto server = server_.lock()) {
            server->handleDatagram(data, host);
        }
    }
    void socketDidAcceptNewSocket(AsyncTcpListener& /*listener*/,
                                  std::shared_ptr<AsyncTcpSocket> newSocket) override {
        if (const auto server = server_.lock()) {
            server->acceptConnection(std::move(newSocket));
        }
    }

  private:
    std::weak_ptr<VeltoServer> server_;
};

struct VeltoServer::GreetingTimer {
    explicit GreetingTimer(boost::asio::io_context& context) : timer(context) {}
    boost::asio::steady_timer timer;
};

std::shared_ptr<VeltoServer> VeltoServer::create() {
    return std::shared_ptr<VeltoServer>(new VeltoServer());
}

VeltoServer::VeltoServer() : VeltoServer(4644, 4644) {}

VeltoServer::VeltoServer(std::uint16_t tcpPort, std::uint16_t udpPort)
    : localTcpPort(tcpPort),
      localUdpPort(udpPort),
      broadcastQueue_(DispatchQueue::create("broadcast")),
      incomingQueue_(DispatchQueue::create("incoming")),
      machine_(std::make_shared<SystemLocalMachine>()),
      fetcher_(LimitedAvatarFetcher::create(std::make_shared<HttpAvatarFetcher>(broadcastQueue_),
                                            avatarFetchesAtOnce)),
      questions_(std::make_shared<PendingQuestions>()) {
    // The picture is asked for on the metadata thread, through whatever machine is in use then.
    metadataServer_ =
        std::make_unique<MetadataServer>(static_cast<std::uint16_t>(tcpPort + 1),
                                         MetadataApplication([this]() -> std::optional<Bytes> {
                                             if (!isVisible()) {
                                                 return std::nullopt;
                                             }
                                             return localMachine()->userPicturePng();
                                         }));
}

VeltoServer::~VeltoServer() {
    // Stop the metadata thread first: its requests read this object's machine.
    metadataServer_.reset();
    // The greeting timer lives and dies on its queue.
    broadcastQueue_->sync([this] { greetingTimer_.reset(); });
    // Closed on their queues and waited for, so that the ports are free once we are gone.
    if (udpSocket_) {
        broadcastQueue_->sync([&] { udpSocket_->close(); });
    }
    // Nothing half received stays behind either.
    incomingQueue_->sync([&] { endIncomingTransfers(); });
}

void VeltoServer::setDelegate(std::shared_ptr<VeltoPeerDiscoveryDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<VeltoPeerDiscoveryDelegate> VeltoServer::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

void VeltoServer::setIncomingDelegate(std::shared_ptr<VeltoIncomingTransferDelegate> delegate) {
    std::lock_guard lock(mutex_);
    incomingDelegate_ = std::move(delegate);
}

std::shared_ptr<VeltoIncomingTransferDelegate> VeltoServer::incomingDelegate() const {
    std::lock_guard lock(mutex_);
    return incomingDelegate_;
}

void VeltoServer::setPortFailureHandler(PortFailureHandler handler) {
    std::lock_guard lock(mutex_);
    portFailureHandler_ = std::move(handler);
}

void VeltoServer::setReceivePolicy(ReceivePolicy policy) {
    {
        std::lock_guard lock(mutex_);
        receivePolicy_ = std::move(policy);
        std::erase_if(markedSignatures_,
                      [&](const auto& heard) { return !isMarkedLocked(heard.first); });
    }
    // Reported where every other change of the table is.
    broadcastQueue_->async([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->removeBlockedPeers();
        }
    });
}

bool VeltoServer::isMarkedLocked(const std::string& address) const {
    const auto hasAddress = [&](const ComputerIdentity& entry) { return entry.address == address; };
    return std::any_of(receivePolicy_.trusted().begin(), receivePolicy_.trusted().end(),
                       hasAddress) ||
           std::any_of(receivePolicy_.blocked().begin(), receivePolicy_.blocked().end(),
                       hasAddress);
}

void VeltoServer::rememberMarkedSignature(const std::string& address,
                                          const std::string& signature) {
    std::lock_guard lock(mutex_);
    if (isMarkedLocked(address)) {
        markedSignatures_[address] = signature;
    }
}

void VeltoServer::removeBlockedPeers() {
    const ReceivePolicy policy = receivePolicy();
    for (const auto& [key, peer] : peers_.snapshot()) {
        if (policy.isBlocked({peer.ip, peer.systemSignature}) && peers_.remove(key)) {
            reportRemoved(key);
        }
    }
}

ReceivePolicy VeltoServer::receivePolicy() const {
    std::lock_guard lock(mutex_);
    return receivePolicy_;
}

ComputerIdentity VeltoServer::identityOf(const std::string& address) const {
    if (auto signature = peers_.signatureAt(address)) {
        return {address, std::move(*signature)};
    }
    std::lock_guard lock(mutex_);
    const auto heard = markedSignatures_.find(address);
    return {address, heard != markedSignatures_.end() ? heard->second : std::string()};
}

void VeltoServer::setVisible(bool visible) {
    {
        std::lock_guard lock(mutex_);
        if (visible_ == visible) {
            return;
        }
        visible_ = visible;
    }
    if (!datagramSender()) {
        return;  // not started: the start announces, or not
    }
    if (visible) {
        sayHello();
    } else {
        sayGoodbye();
    }
}

bool VeltoServer::isVisible() const {
    std::lock_guard lock(mutex_);
    return visible_;
}

void VeltoServer::setReceivingFolder(std::string folder) {
    std::lock_guard lock(mutex_);
    receivingFolder_ = std::move(folder);
}

std::string VeltoServer::receivingFolder() const {
    std::lock_guard lock(mutex_);
    return receivingFolder_;
}

void VeltoServer::useLocalMachine(std::shared_ptr<LocalMachine> machine) {
    std::lock_guard lock(mutex_);
    machine_ = std::move(machine);
}

void VeltoServer::useDatagramSender(std::shared_ptr<DatagramSender> sender) {
    std::lock_guard lock(mutex_);
    sender_ = std::move(sender);
}

void VeltoServer::useAvatarFetcher(std::shared_ptr<AvatarFetcher> fetcher) {
    std::lock_guard lock(mutex_);
    fetcher_ = LimitedAvatarFetcher::create(std::move(fetcher), avatarFetchesAtOnce);
}

std::shared_ptr<LocalMachine> VeltoServer::localMachine() const {
    std::lock_guard lock(mutex_);
    return machine_;
}

std::shared_ptr<DatagramSender> VeltoServer::datagramSender() const {
    std::lock_guard lock(mutex_);
    return sender_;
}

void VeltoServer::reportPortFailure(const std::string& message) {
    PortFailureHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = portFailureHandler_;
    }
    if (handler) {
        handler(message);
    } else {
        diagnostic(message);
    }
}

void VeltoServer::startServer() {
    socketEvents_ = std::make_shared<SocketEvents>(weak_from_this());
    udpSocket_ =
        AsyncUdpSocket::create(std::weak_ptr<UdpSocketDelegate>(socketEvents_), broadcastQueue_);
    std::string error;
    if (!udpSocket_->enableBroadcast(true, &error)) {
        diagnostic("cannot enable broadcast:", error);
    }
    if (!datagramSender()) {
        useDatagramSender(std::make_shared<UdpDatagramSender>(udpSocket_));
    }
    const bool udpBound = udpSocket_->bindToPort(localUdpPort, &error);
    if (!udpBound) {
        reportPortFailure(std::string(udpFailureText));
    }

    const bool metadataListening = metadataServer_->listen(&error);
    if (!metadataListening) {
        reportPortFailure(std::string(metadataFailureText));
    }

    listenSocket_ =
        AsyncTcpListener::create(std::weak_ptr<TcpListenerDelegate>(socketEvents_), incomingQueue_);
    if (!listenSocket_->acceptOnPort(localTcpPort, &error)) {
        reportPortFailure(std::string(tcpFailureText));
    }

    if (metadataListening) {
        metadataServer_->run();
    }

    // Hellos are read (and answered) only now: a peer that hears from us asks for our picture
    // at once, and would otherwise find the metadata server not yet listening and give up.
    if (udpBound && !udpSocket_->beginReceiving(&error)) {
        reportPortFailure(std::string(udpFailureText));
    }
    broadcastQueue_->sync([this] {
        greetingTimer_ = std::make_unique<GreetingTimer>(ioContextOf(*broadcastQueue_));
        greetAddedAddressesLater();
    });
}

void VeltoServer::greetAddedAddressesLater() {
    greetingTimer_->timer.expires_after(addedAddressesGreetingInterval);
    greetingTimer_->timer.async_wait(
        [weak = weak_from_this()](const boost::system::error_code& error) {
            const auto self = weak.lock();
            if (error || !self) {
                return;  // cancelled: the server is going
            }
            const auto added = self->addedAddresses();
            if (!added.empty() && self->isVisible()) {
                self->sendToTargets(self->createHelloPacket("", self->localUdpPort), added,
                                    self->localUdpPort, true);
            }
            self->greetAddedAddressesLater();
        });
}

Bytes VeltoServer::createHelloPacket(const std::string& dest, std::uint16_t port) const {
    DiscoveryDatagram hello;
    if (port == defaultUdpPort && localUdpPort == defaultUdpPort) {
        hello.type =
            dest.empty() ? DiscoveryPacketType::helloBroadcast : DiscoveryPacketType::helloReply;
    } else {
        hello.type = dest.empty() ? DiscoveryPacketType::helloBroadcastWithPort
                                  : DiscoveryPacketType::helloReplyWithPort;
        // Always our own port, whatever port the hello goes to.
        hello.port = localUdpPort;
    }
    hello.text = getSystemSignature();
    return hello.encode();
}

Bytes VeltoServer::createGoodbyePacket(const std::string& /*dest*/, std::uint16_t /*port*/) const {
    return DiscoveryDatagram{DiscoveryPacketType::goodbye, std::nullopt, std::string(goodbyeText)}
        .encode();
}

std::string VeltoServer::getSystemSignature() const {
    const auto machine = localMachine();
    const std::string computer = machine->computerName().value_or(std::string(unknownComputerName));
    return machine->userFullName() + " at " + computer + " [Velto] " + machine->platformWord();
}

std::vector<std::string> VeltoServer::findBroadcastAddress() const {
    std::vector<std::string> addresses;
    for (const auto& entry : localMachine()->interfaceAddresses()) {
        // An address without a usable netmask has no subnet to broadcast to.
        std::string broadcast = NetInfo(entry.ip, entry.netmask).broadcast();
        if (!broadcast.empty()) {
            addresses.push_back(std::move(broadcast));
        }
    }
    return addresses;
}

bool VeltoServer::isLocalPeer(const std::string& sender) const {
    for (const auto& entry : localMachine()->interfaceAddresses()) {
        if (entry.ip == sender) {
            return true;
        }
    }
    return false;
}

void VeltoServer::setAddedAddresses(std::vector<std::string> addresses) {
    std::lock_guard lock(mutex_);
    addedAddresses_ = std::move(addresses);
}

std::vector<std::string> VeltoServer::addedAddresses() const {
    std::lock_guard lock(mutex_);
    return addedAddresses_;
}

std::vector<std::string> VeltoServer::broadcastAndAddedAddresses() const {
    auto targets = findBroadcastAddress();
    const auto added = addedAddresses();
    targets.insert(targets.end(), added.begin(), added.end());
    return targets;
}

void VeltoServer::sendToTargets(const Bytes& packet, const std::vector<std::string>& targets,
                                std::uint16_t port, bool alsoToDefaultPort, SendCompletion done) {
    const auto sender = datagramSender();
    if (!sender) {
        diagnostic("cannot send before the server is started");
        if (done) {
            done("the server is not started");
        }
        return;
    }
    std::vector<std::pair<std::string, std::uint16_t>> sends;
    for (const auto& target : targets) {
        sends.emplace_back(target, port);
        // From a non-standard port, also reach peers listening on the standard one.
        if (alsoToDefaultPort && port != defaultUdpPort) {
            sends.emplace_back(target, defaultUdpPort);
        }
    }
    DatagramSender::Completion each;
    if (done) {
        // One answer for all of them: the first failure, or "" once the last one left.
        struct Tally {
            std::mutex mutex;
            std::size_t left;
            std::string firstError;
            SendCompletion done;
        };
        auto tally = std::make_shared<Tally>();
        tally->left = sends.size();
        tally->done = std::move(done);
        if (sends.empty()) {
            tally->done("no address to send to");
            return;
        }
        each = [tally](const std::string& error) {
            std::unique_lock lock(tally->mutex);
            if (tally->firstError.empty()) {
                tally->firstError = error;
            }
            if (--tally->left == 0) {
                const std::string outcome = tally->firstError;
                lock.unlock();
                tally->done(outcome);
            }
        };
    }
    for (const auto& [target, targetPort] : sends) {
        sender->sendDatagram(packet, target, targetPort, each);
    }
}

void VeltoServer::announceTo(const std::string& dest, SendCompletion done) {
    sendToTargets(createHelloPacket("", localUdpPort), {dest}, localUdpPort, true, std::move(done));
}

void VeltoServer::sayHello() {
    if (!isVisible()) {
        return;
    }
    sendToTargets(createHelloPacket("", localUdpPort), broadcastAndAddedAddresses(), localUdpPort,
                  true);
}

void VeltoServer::sayHello(const std::string& dest) {
    sayHello(dest, localUdpPort);
}

void VeltoServer::sayHello(const std::string& dest, std::uint16_t port) {
    sendToTargets(createHelloPacket(dest, port),
                  dest.empty() ? findBroadcastAddress() : std::vector<std::string>{dest}, port,
                  dest.empty());
}

void VeltoServer::sayGoodbye() {
    sendToTargets(createGoodbyePacket("", localUdpPort), broadcastAndAddedAddresses(), localUdpPort,
                  true);
}

void VeltoServer::sayGoodbye(const std::string& dest) {
    sayGoodbye(dest, localUdpPort);
}

void VeltoServer::sayGoodbye(const std::string& dest, std::uint16_t port) {
    sendToTargets(createGoodbyePacket(dest, port),
                  dest.empty() ? findBroadcastAddress() : std::vector<std::string>{dest}, port,
                  dest.empty());
}

void VeltoServer::handleDatagram(const Bytes& data, const std::string& sender) {
    if (isLocalPeer(sender)) {
        return;  // our own broadcast
    }
    std::string refusal;
    const auto datagram = DiscoveryDatagram::parse(data, refusal);
    if (!datagram) {
        if (!refusal.empty()) {
            diagnostic("Dropped datagram from", sender + ":", refusal);
        }
        return;
    }

    const std::string signature = datagram->isHello() ? datagram->text : std::string();
    if (datagram->isHello()) {
        rememberMarkedSignature(sender, signature);
    }
    if (receivePolicy().isBlocked({sender, signature})) {
        if (peers_.remove(sender)) {
            reportRemoved(sender);
        }
        return;
    }

    if (datagram->type == DiscoveryPacketType::goodbye) {
        if (peers_.remove(sender)) {
            reportRemoved(sender);
        }
        logPeerTable(sender);
        return;
    }

    const std::uint16_t port = datagram->port.value_or(defaultUdpPort);
    const auto now = std::chrono::system_clock::now();
    auto [peer, added] = peers_.addIfAbsent(VeltoPeer(sender, sender, port, datagram->text, now));
    const auto record = peers_.record(sender);
    if (added) {
        reportAdded(sender, peer);
    } else if (record) {
        peer = peers_.update(record, [&](VeltoPeer& known) {
            known.ip = sender;
            known.port = port;
            known.systemSignature = datagram->text;
            known.lastActiveTime = now;
        });
        reportModified(sender, peer);
    }
    handleAvatar(record);
    if (datagram->isAnnouncement() && isVisible()) {
        sayHello(peer.ip, peer.port);
    }
    logPeerTable(sender);
}

void VeltoServer::handleAvatar(const PeerTable::Record& peer) {
    if (!peer) {
        return;
    }
    bool start = false;
    const VeltoPeer current = peers_.update(peer, [&](VeltoPeer& record) {
        // Port 65535 would put the metadata server on port 0: no such server to ask.
        if (record.avatar.empty() && record.port != 0xFFFF) {
            record.avatar = loadingAvatar;
            start = true;
        }
    });
    if (!start) {
        return;
    }
    std::shared_ptr<AvatarFetcher> fetcher;
    {
        std::lock_guard lock(mutex_);
        fetcher = fetcher_;
    }
    {
        std::lock_guard lock(fetchMutex_);
        ++pendingFetches_;
    }
    fetcher->fetch(
        current.ip, static_cast<std::uint16_t>(current.port + 1),
        [weak = weak_from_this(), key = current.key, peer](std::optional<AvatarResponse> response) {
            if (auto self = weak.lock()) {
                self->avatarArrived(key, peer, response);
            }
        });
}

void VeltoServer::avatarArrived(const std::string& key, const PeerTable::Record& record,
                                const std::optional<AvatarResponse>& response) {
    // Only a picture counts: an error page or an empty body leaves "loading" in place.
    if (response && response->status == 200 && !response->body.empty()) {
        const std::string url = std::string(avatarUrlPrefix) + Base64::encode(response->body);
        const VeltoPeer peer = peers_.update(record, [&](VeltoPeer& p) { p.avatar = url; });
        // A record that left the table (goodbye) or was replaced is not reported.
        if (peers_.holds(key, record)) {
            reportModified(key, peer);
        }
    }
    {
        std::lock_guard lock(fetchMutex_);
        --pendingFetches_;
    }
    fetchesSettled_.notify_all();
}

bool VeltoServer::waitForAvatarFetches(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(fetchMutex_);
    return fetchesSettled_.wait_for(lock, timeout, [this] { return pendingFetches_ == 0; });
}

void VeltoServer::reportAdded(const std::string& key, const VeltoPeer& peer) {
    if (auto target = delegate()) {
        target->peerDiscoveryWithAdded(key, peer);
    }
}

void VeltoServer::reportModified(const std::string& key, const VeltoPeer& peer) {
    if (auto target = delegate()) {
        target->peerDiscoveryWithModified(key, peer);
    }
}

void VeltoServer::reportRemoved(const std::string& key) {
    if (auto target = delegate()) {
        target->peerDiscoveryWithRemoved(key);
    }
}

void VeltoServer::logPeerTable(const std::string& heard) const {
    if (!diagnosticsEnabled()) {
        return;
    }
    std::ostringstream line;
    const auto describe = [&line](const std::string& key, const VeltoPeer& peer) {
        line << " [" << key << " port " << peer.port << " \"" << peer.systemSignature
             << "\" avatar "
             << (peer.hasAvatarPicture()        ? "yes"
                 : peer.avatar == loadingAvatar ? "loading"
                                                : "no")
             << "]";
    };
    // A crowded LAN would make every hello cost a copy and a line of the whole table.
    if (const std::size_t count = peers_.size(); count > wholeTableLogLimit) {
        line << "Peers (" << count << "), the one heard:";
        if (const auto peer = peers_.find(heard)) {
            describe(heard, *peer);
        } else {
            line << " [" << heard << " gone]";
        }
        diagnostic(line.str());
        return;
    }
    const auto table = peers_.snapshot();
    line << "Peers (" << table.size() << "):";
    for (const auto& [key, peer] : table) {
        describe(key, peer);
    }
    diagnostic(line.str());
}

}  // namespace velto

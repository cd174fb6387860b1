#include "net/UdpSocketCore.h"

#include <boost/asio/error.hpp>

#include "core/DispatchQueueContext.h"
#include "net/Ipv4Text.h"
#include "velto/Diagnostics.h"

namespace velto {

namespace {

bool fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return false;
}

}  // namespace

UdpSocketCore::UdpSocketCore(std::shared_ptr<DispatchQueue> queue,
                             std::weak_ptr<UdpSocketDelegate> delegate)
    : queue_(std::move(queue)), delegate_(std::move(delegate)), socket_(ioContextOf(*queue_)) {}

bool UdpSocketCore::ensureOpen(std::string* error) {
    if (closed_) {
        return fail(error, "The socket is closed");
    }
    if (socket_.is_open()) {
        return true;
    }
    boost::system::error_code failure;
    socket_.open(boost::asio::ip::udp::v4(), failure);
    return failure ? fail(error, "Cannot open a UDP socket: " + failure.message()) : true;
}

bool UdpSocketCore::enableBroadcast(bool enable, std::string* error) {
    if (!ensureOpen(error)) {
        return false;
    }
    boost::system::error_code failure;
    socket_.set_option(boost::asio::socket_base::broadcast(enable), failure);
    return failure ? fail(error, "Cannot change broadcast: " + failure.message()) : true;
}

bool UdpSocketCore::bindToPort(std::uint16_t port, std::string* error) {
    if (!ensureOpen(error)) {
        return false;
    }
    namespace ip = boost::asio::ip;
    boost::system::error_code failure;
    socket_.bind(ip::udp::endpoint(ip::address_v4::any(), port), failure);
    if (failure) {
        return fail(error,
                    "Cannot bind UDP port " + std::to_string(port) + ": " + failure.message());
    }
    noteLocalPort();
    return true;
}

bool UdpSocketCore::beginReceiving(std::string* error) {
    if (!ensureOpen(error)) {
        return false;
    }
    noteLocalPort();
    if (port_ == 0) {
        return fail(error, "The socket is not bound to a port");
    }
    if (!receiving_) {
        // Room for a burst: a LAN of a thousand computers announcing at once. The system caps
        // the size at its own limit, which is fine too, so a refusal is not an error.
        boost::system::error_code ignored;
        socket_.set_option(boost::asio::socket_base::receive_buffer_size(kReceiveBufferBytes),
                           ignored);
        receiving_ = true;
        received_.resize(kLargestDatagram);
        receiveNext();
    }
    return true;
}

void UdpSocketCore::noteLocalPort() {
    boost::system::error_code failure;
    const auto local = socket_.local_endpoint(failure);
    if (!failure) {
        port_ = local.port();
    }
}

void UdpSocketCore::receiveNext() {
    socket_.async_receive_from(
        boost::asio::buffer(received_), sender_,
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t count) {
            self->onReceived(error, count);
        });
}

void UdpSocketCore::onReceived(const boost::system::error_code& error, std::size_t count) {
    if (closed_ || error == boost::asio::error::operation_aborted) {
        return;
    }
    if (error) {
        diagnostic("UDP receive failed:", error.message());
    } else {
        const auto handle = handle_.lock();
        const auto delegate = delegate_.lock();
        if (handle && delegate) {
            const Bytes datagram(received_.begin(),
                                 received_.begin() + static_cast<std::ptrdiff_t>(count));
            delegate->udpSocketDidReceive(*handle, datagram, sender_.address().to_string(),
                                          sender_.port());
        }
    }
    if (!closed_) {  // the delegate may have closed the socket
        receiveNext();
    }
}

void UdpSocketCore::sendData(Bytes data, const std::string& host, std::uint16_t port,
                             double timeout, AsyncUdpSocket::SendCompletion done) {
    const auto address = parseIpv4(host);
    std::string error;
    if (!address) {
        error = "not an IPv4 address: " + host;
        diagnostic("UDP send dropped:", error);
    } else if (!ensureOpen(&error)) {
        diagnostic("UDP send dropped:", error);
    }
    if (!error.empty()) {
        if (done) {
            done(error);
        }
        return;
    }
    outgoing_.push_back({std::move(data),
                         {*address, port},
                         timeout,
                         std::chrono::steady_clock::now(),
                         std::move(done)});
    sendNext();
}

void UdpSocketCore::sendNext() {
    // A datagram that waited past its time-out is stale; it is dropped rather than sent late.
    const auto now = std::chrono::steady_clock::now();
    while (!outgoing_.empty() && outgoing_.front().timeout >= 0 &&
           std::chrono::duration<double>(now - outgoing_.front().queued).count() >
               outgoing_.front().timeout) {
        finishFront("timed out before it could be sent");
    }
    if (sending_ || outgoing_.empty()) {
        return;
    }
    sending_ = true;
    const Datagram& next = outgoing_.front();
    socket_.async_send_to(boost::asio::buffer(next.data), next.destination,
                          [self = shared_from_this()](const boost::system::error_code& error,
                                                      std::size_t) { self->onSent(error); });
}

void UdpSocketCore::onSent(const boost::system::error_code& error) {
    sending_ = false;
    if (closed_) {
        // Kept until now: the send could still have been reading from one.
        while (!outgoing_.empty()) {
            finishFront("the socket closed");
        }
        return;
    }
    if (error) {
        diagnostic("UDP send failed:", error.message());
    }
    finishFront(error ? error.message() : std::string());
    if (port_ == 0) {
        noteLocalPort();  // the first send bound the socket to a port of the system's choosing
    }
    sendNext();
}

void UdpSocketCore::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    boost::system::error_code ignored;
    socket_.close(ignored);
    if (!sending_) {
        while (!outgoing_.empty()) {
            finishFront("the socket closed");
        }
    }
}

void UdpSocketCore::finishFront(const std::string& error) {
    const auto done = std::move(outgoing_.front().done);
    outgoing_.pop_front();
    if (done) {
        done(error);
    }
}

}  // namespace velto

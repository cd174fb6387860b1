#include "support/LoopbackHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <stdexcept>

namespace velto::test {
namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int boundListener() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        throw std::runtime_error("cannot listen on loopback");
    }
    return fd;
}

std::uint16_t portOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void limitReceiveWait(int fd) {
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

void sendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        done += static_cast<std::size_t>(sent);
    }
}

// Reads until the peer closes, or until stop is found in what was read (when given).
// nullopt when the wait for more ran out first.
std::optional<std::string> receive(int fd, const std::string& stop = "") {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
        if (!stop.empty() && text.find(stop) != std::string::npos) {
            return text;
        }
    }
}

}  // namespace

RawHttpClient::RawHttpClient(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const sockaddr_in address = loopback(port);
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    limitReceiveWait(socket_);
}

RawHttpClient::~RawHttpClient() {
    ::close(socket_);
}

void RawHttpClient::send(const std::string& text) {
    sendAll(socket_, text);
}

std::optional<std::string> RawHttpClient::receiveUntilClosed() {
    return receive(socket_);
}

std::optional<std::string> exchangeRaw(std::uint16_t port, const std::string& request) {
    RawHttpClient client(port);
    client.send(request);
    return client.receiveUntilClosed();
}

CannedHttpPeer::CannedHttpPeer(std::optional<std::string> answer) : listener_(boundListener()) {
    port_ = portOf(listener_);
    std::promise<std::string> head;
    head_ = head.get_future();
    thread_ = std::thread([this, answer = std::move(answer), head = std::move(head),
                           released = release_.get_future()]() mutable {
        const int connection = ::accept(listener_, nullptr, nullptr);
        limitReceiveWait(connection);
        head.set_value(receive(connection, "\r\n\r\n").value_or(""));
        if (answer) {
            sendAll(connection, *answer);
            ::shutdown(connection, SHUT_WR);
        }
        released.wait();
        ::close(connection);
    });
}

CannedHttpPeer::~CannedHttpPeer() {
    release_.set_value();
    // Unblocks an accept that never came; otherwise it waits harmlessly in the backlog.
    RawHttpClient nudge(port_);
    thread_.join();
    ::close(listener_);
}

std::uint16_t closedLoopbackPort() {
    const int fd = boundListener();
    const std::uint16_t port = portOf(fd);
    ::close(fd);
    return port;
}

}  // namespace velto::test

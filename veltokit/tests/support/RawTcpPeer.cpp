#include "support/RawTcpPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>

namespace velto::test {

namespace {

constexpr int kWaitLimitSeconds = 30;

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

std::uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

int listeningSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        throw std::runtime_error("test peer cannot listen");
    }
    return fd;
}

}  // namespace

RawTcpPeer::RawTcpPeer() : listener_(listeningSocket()), port_(boundPort(listener_)) {
    const timeval limit{kWaitLimitSeconds, 0};
    setsockopt(listener_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

RawTcpPeer::~RawTcpPeer() {
    close();
    ::close(listener_);
}

bool RawTcpPeer::accept() {
    connection_ = ::accept(listener_, nullptr, nullptr);
    if (connection_ < 0) {
        return false;
    }
    const timeval limit{kWaitLimitSeconds, 0};
    setsockopt(connection_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(connection_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const int on = 1;
    setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

void RawTcpPeer::sendAll(const Bytes& data) {
    send(data.data(), data.size());
}

void RawTcpPeer::sendInPieces(const Bytes& data, std::size_t maxPiece, unsigned seed) {
    std::mt19937 random(seed);
    for (std::size_t sent = 0; sent < data.size();) {
        const std::size_t piece = std::min(data.size() - sent, 1 + random() % maxPiece);
        send(data.data() + sent, piece);
        sent += piece;
    }
}

void RawTcpPeer::send(const std::uint8_t* data, std::size_t size) {
    for (std::size_t sent = 0; sent < size;) {
        const ssize_t n = ::send(connection_, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("test peer cannot send");
        }
        sent += static_cast<std::size_t>(n);
    }
}

Bytes RawTcpPeer::receive(std::size_t count) {
    Bytes data(count);
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::recv(connection_, data.data() + got, count - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    return data;
}

Bytes RawTcpPeer::receiveUntilClosed() {
    Bytes data;
    std::uint8_t chunk[65536];
    ssize_t n = 0;
    while ((n = ::recv(connection_, chunk, sizeof chunk, 0)) > 0) {
        data.insert(data.end(), chunk, chunk + n);
    }
    return data;
}

bool RawTcpPeer::closedByOtherSide() {
    std::uint8_t byte = 0;
    return ::recv(connection_, &byte, 1, 0) == 0;
}

void RawTcpPeer::close() {
    if (connection_ >= 0) {
        ::close(connection_);
        connection_ = -1;
    }
}

std::uint16_t unusedTcpPort() {
    const int fd = listeningSocket();
    const std::uint16_t port = boundPort(fd);
    ::close(fd);
    return port;
}

Bytes patternBytes(std::size_t count, std::size_t offset) {
    Bytes data(count);
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = static_cast<std::uint8_t>((offset + i) % 251);
    }
    return data;
}

}  // namespace velto::test

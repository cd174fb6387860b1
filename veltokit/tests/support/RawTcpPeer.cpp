#include "support/RawTcpPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <stdexcept>

namespace velto::test {
namespace {

// A socket listening on 127.0.0.1 at an ephemeral port (given back in port); reads and writes
// on it and on the connections it accepts give up after 30 s.
int listenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0 ||
        ::listen(fd, 256) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("test peer cannot listen");
    }
    port = ntohs(address.sin_port);
    const timeval limit{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);  // inherited by accept()
    return fd;
}

}  // namespace

RawTcpPeer::RawTcpPeer(int receiveBuffer) : listener_(listenOnLoopback(port_)) {
    if (receiveBuffer > 0) {  // inherited by accept()
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
}

RawTcpPeer::RawTcpPeer(To server) : connection_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server.port);
    const timeval limit{30, 0};
    setsockopt(connection_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    if (server.from != nullptr &&
        (::inet_pton(AF_INET, server.from, &source.sin_addr) != 1 ||
         ::bind(connection_, reinterpret_cast<const sockaddr*>(&source), sizeof source) != 0)) {
        close();
        throw std::runtime_error(std::string("cannot connect from ") + server.from);
    }
    if (::connect(connection_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close();
        throw std::runtime_error("cannot connect to port " + std::to_string(server.port));
    }
}

RawTcpPeer::~RawTcpPeer() {
    close();
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

bool RawTcpPeer::accept() {
    connection_ = ::accept(listener_, nullptr, nullptr);
    const int on = 1;
    setsockopt(connection_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return connection_ >= 0;
}

bool RawTcpPeer::send(const Bytes& data, std::size_t maxPiece) {
    std::mt19937 random(3);
    for (std::size_t sent = 0; sent < data.size();) {
        const std::size_t left = data.size() - sent;
        const std::size_t piece = maxPiece == 0 ? left : std::min(left, 1 + random() % maxPiece);
        const ssize_t n = ::send(connection_, data.data() + sent, piece, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
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

std::optional<Bytes> RawTcpPeer::receiveUntilClosed() {
    Bytes data;
    std::uint8_t chunk[65536];
    ssize_t n;
    while ((n = ::recv(connection_, chunk, sizeof chunk, 0)) > 0) {
        data.insert(data.end(), chunk, chunk + n);
    }
    return n == 0 ? std::optional(data) : std::nullopt;
}

bool RawTcpPeer::closedByOtherSide() {
    std::uint8_t byte = 0;
    const ssize_t n = ::recv(connection_, &byte, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

void RawTcpPeer::stopListening() {
    ::shutdown(listener_, SHUT_RDWR);
}

void RawTcpPeer::close() {
    if (connection_ >= 0) {
        ::close(connection_);
        connection_ = -1;
    }
}

std::optional<std::string> exchangeRaw(std::uint16_t port, const std::string& request) {
    RawTcpPeer client(RawTcpPeer::To{port});
    client.send(bytesOf(request));
    const auto answer = client.receiveUntilClosed();
    return answer ? std::optional(textOf(*answer)) : std::nullopt;
}

Bytes patternBytes(std::size_t count, std::size_t offset) {
    Bytes data(count);
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = static_cast<std::uint8_t>((offset + i) % 251);
    }
    return data;
}

}  // namespace velto::test

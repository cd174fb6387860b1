#include "support/LoopbackHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/RawTcpPeer.h"

namespace velto::test {
namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

void sendAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return;
        }
        done += static_cast<std::size_t>(sent);
    }
}

// Reads until the other side closes, or until stop turns up; nullopt when a read timed out.
std::optional<std::string> receive(int fd, const std::string& stop = "") {
    const timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string text;
    char buffer[4096];
    while (stop.empty() || text.find(stop) == std::string::npos) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return got == 0 ? std::optional(text) : std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

}  // namespace

RawHttpClient::RawHttpClient(std::uint16_t port) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    const sockaddr_in address = loopback(port);
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket_);
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
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

CannedHttpPeer::CannedHttpPeer(std::optional<std::string> answer)
    : listener_(listenOnLoopback(port_)) {
    std::promise<std::string> head;
    head_ = head.get_future();
    thread_ = std::thread([this, answer = std::move(answer), head = std::move(head),
                           released = release_.get_future()]() mutable {
        const int connection = ::accept(listener_, nullptr, nullptr);
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
    RawHttpClient nudge(port_);  // ends an accept still waiting; else it waits in the backlog
    thread_.join();
    ::close(listener_);
}

std::uint16_t closedLoopbackPort() {
    std::uint16_t port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

}  // namespace velto::test

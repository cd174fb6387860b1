#pragma once

#include <cstddef>
#include <cstdint>

#include "velto/Bytes.h"

namespace velto::test {

// The far end of a connection under test, on plain blocking POSIX calls on 127.0.0.1, so that
// the socket layer is checked against the kernel and not against itself. Every wait gives up
// after 30 s instead of hanging the suite.
class RawTcpPeer {
  public:
    // Listens on an ephemeral port; a receive buffer of that many bytes, when given, makes a
    // peer that stops reading hold the other side's writes up soon.
    explicit RawTcpPeer(int receiveBuffer = 0);
    ~RawTcpPeer();
    RawTcpPeer(const RawTcpPeer&) = delete;
    RawTcpPeer& operator=(const RawTcpPeer&) = delete;

    std::uint16_t port() const { return port_; }
    bool accept();
    // Sends data in one call, or in pieces of pseudo-random sizes up to maxPiece bytes; false
    // when the other side went away first.
    bool send(const Bytes& data, std::size_t maxPiece = 0);
    Bytes receive(std::size_t count);
    Bytes receiveUntilClosed();
    bool closedByOtherSide();  // true once a read finds the end of the stream or a reset
    void close();

  private:
    int listener_;
    int connection_ = -1;
    std::uint16_t port_;
};

// A socket listening on 127.0.0.1 at an ephemeral port (given back in port); reads and writes
// on it and on the connections it accepts give up after 30 s.
int listenOnLoopback(std::uint16_t& port);

// Bytes 0, 1, 2, ... 250, 0, 1, ... from offset on: a shifted or lost byte shows.
Bytes patternBytes(std::size_t count, std::size_t offset = 0);

}  // namespace velto::test

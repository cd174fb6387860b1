#pragma once

#include <cstddef>
#include <cstdint>

#include "velto/Bytes.h"

namespace velto::test {

// The far end of a connection under test, on plain blocking POSIX calls on 127.0.0.1, so that
// the socket layer is checked against the kernel and not against itself. Every wait gives up
// after a generous bound instead of hanging the suite.
class RawTcpPeer {
  public:
    RawTcpPeer();  // listens on an ephemeral port
    ~RawTcpPeer();
    RawTcpPeer(const RawTcpPeer&) = delete;
    RawTcpPeer& operator=(const RawTcpPeer&) = delete;

    std::uint16_t port() const { return port_; }
    bool accept();
    void sendAll(const Bytes& data);
    // Sends data in pieces of pseudo-random sizes up to maxPiece bytes.
    void sendInPieces(const Bytes& data, std::size_t maxPiece, unsigned seed);
    Bytes receive(std::size_t count);
    Bytes receiveUntilClosed();  // everything until the other side closes
    bool closedByOtherSide();    // true once a read finds the end of the stream
    void close();

  private:
    void send(const std::uint8_t* data, std::size_t size);

    int listener_ = -1;
    int connection_ = -1;
    std::uint16_t port_ = 0;
};

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t unusedTcpPort();

// Bytes 0, 1, 2, ... 250, 0, 1, ...: a shifted or lost byte shows.
Bytes patternBytes(std::size_t count, std::size_t offset = 0);

}  // namespace velto::test

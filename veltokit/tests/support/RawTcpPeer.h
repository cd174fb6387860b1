#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

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
    // Connects to 127.0.0.1:port instead, from the loopback address from, or throws.
    struct To {
        std::uint16_t port;
        const char* from = nullptr;  // 127.x.y.z; nullptr: any
    };
    explicit RawTcpPeer(To server);
    ~RawTcpPeer();
    RawTcpPeer(const RawTcpPeer&) = delete;
    RawTcpPeer& operator=(const RawTcpPeer&) = delete;

    std::uint16_t port() const { return port_; }
    bool accept();
    // Sends data in one call, or in pieces of pseudo-random sizes up to maxPiece bytes; false
    // when the other side went away first.
    bool send(const Bytes& data, std::size_t maxPiece = 0);
    Bytes receive(std::size_t count);
    // Everything until the other side closes; nullopt when a read failed or timed out first.
    std::optional<Bytes> receiveUntilClosed();
    bool closedByOtherSide();  // true once a read finds the end of the stream or a reset
    void close();              // the connection; a listening peer goes on listening
    void stopListening();      // any thread: a wait in accept() ends, and every later one fails

  private:
    std::uint16_t port_ = 0;  // before listener_, whose initialisation sets it
    int listener_ = -1;
    int connection_ = -1;
};

// Sends request on a new connection to 127.0.0.1:port; the answer until the server closes.
std::optional<std::string> exchangeRaw(std::uint16_t port, const std::string& request);

// Bytes 0, 1, 2, ... 250, 0, 1, ... from offset on: a shifted or lost byte shows.
Bytes patternBytes(std::size_t count, std::size_t offset = 0);

}  // namespace velto::test

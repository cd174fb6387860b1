#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "velto/Bytes.h"

namespace velto {

// Where discovery sends its datagrams: the UDP socket in production, a recorder in tests.
// Hellos and goodbyes are fire-and-forget; a hello the user asked for hears its outcome through
// done ("" once sent, else the reason), when one is given.
class DatagramSender {
  public:
    using Completion = std::function<void(const std::string& error)>;

    virtual ~DatagramSender() = default;
    virtual void sendDatagram(const Bytes& data, const std::string& host, std::uint16_t port,
                              Completion done) = 0;
};

}  // namespace velto

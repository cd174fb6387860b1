#pragma once

#include <cstdint>
#include <string>

#include "velto/Bytes.h"

namespace velto {

// Where discovery sends its datagrams: the UDP socket in production, a recorder in tests.
// Sending is fire-and-forget; the outcome is not observed.
class DatagramSender {
  public:
    virtual ~DatagramSender() = default;
    virtual void sendDatagram(const Bytes& data, const std::string& host, std::uint16_t port) = 0;
};

}  // namespace velto

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "velto/Bytes.h"

namespace velto {

enum class DiscoveryPacketType : std::uint8_t {
    helloBroadcast = 1,
    helloReply = 2,
    goodbye = 3,
    helloBroadcastWithPort = 4,
    helloReplyWithPort = 5,
};

// One discovery datagram: a type byte, a little-endian port for types 4 and 5, then UTF-8 text
// (the signature of a hello, "Bye Bye" for a goodbye) up to the end of the datagram.
struct DiscoveryDatagram {
    DiscoveryPacketType type = DiscoveryPacketType::helloBroadcast;
    std::optional<std::uint16_t> port;  // present exactly for types 4 and 5
    std::string text;

    bool isHello() const { return type != DiscoveryPacketType::goodbye; }
    // Announcements (types 1 and 4) are answered; replies are not.
    bool isAnnouncement() const {
        return type == DiscoveryPacketType::helloBroadcast ||
               type == DiscoveryPacketType::helloBroadcastWithPort;
    }

    Bytes encode() const;

    // nullopt for a datagram to drop. refusal then names what was wrong with it; it stays empty
    // for a type this protocol does not know, which is dropped without a word. The text of a
    // goodbye is never looked at, so only hello texts must be valid UTF-8.
    static std::optional<DiscoveryDatagram> parse(const Bytes& data, std::string& refusal);
};

}  // namespace velto

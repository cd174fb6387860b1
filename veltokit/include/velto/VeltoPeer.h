#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "velto/Export.h"

namespace velto {

// One known remote instance. Records live in the server's PeerTable; everything outside the
// table works on copies (snapshots).
struct VELTO_EXPORT VeltoPeer {
    VeltoPeer() = default;
    VeltoPeer(std::string peerKey, std::string address, std::uint16_t protocolPort,
              std::string signature, std::chrono::system_clock::time_point activeTime)
        : ip(std::move(address)),
          port(protocolPort),
          systemSignature(std::move(signature)),
          lastActiveTime(activeTime),
          key(std::move(peerKey)) {}

    std::string ip;
    std::uint16_t port = 0;
    std::string systemSignature;
    std::chrono::system_clock::time_point lastActiveTime{};
    std::string avatar;  // empty, "loading", or a "data:image/png;base64," URL
    std::string key;

    // The avatar as the page may show it: only a fetched picture, never "loading".
    bool hasAvatarPicture() const { return !avatar.empty() && avatar != "loading"; }
};

}  // namespace velto

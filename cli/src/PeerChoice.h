#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "velto/VeltoPeer.h"

namespace velto::cli {

// Which peer "velto-cli send PEER" means: an IPv4 address names a host directly (the port
// from the table when the host is known there, else the protocol's); any other text must be
// part of exactly one peer's signature, ignoring case.
class PeerChoice {
  public:
    static constexpr std::uint16_t defaultPort = 4644;

    struct Result {
        std::optional<VeltoPeer> peer;
        std::vector<std::string> candidates;  // signatures that match, when more than one does
    };

    // A plain dotted IPv4 address (four parts 0-255, no leading zeros, nothing else).
    static bool isAddress(const std::string& text);
    // Digits and dots only, so meant as an address, but not a plain one ("10.1.2.012").
    static bool isMalformedAddress(const std::string& text);
    // What velto-cli says when it refuses text as an address.
    static std::string addressRefusal(const std::string& text);
    static Result choose(const std::string& text, const std::map<std::string, VeltoPeer>& peers);
};

}  // namespace velto::cli

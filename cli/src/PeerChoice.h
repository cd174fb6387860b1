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

    static bool isAddress(const std::string& text);
    static Result choose(const std::string& text, const std::map<std::string, VeltoPeer>& peers);
};

}  // namespace velto::cli

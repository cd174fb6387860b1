#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "velto/VeltoPeer.h"

namespace velto::cli {

// The peer table as velto-cli prints it.
class PeerListing {
  public:
    using Table = std::map<std::string, VeltoPeer>;

    // The dictionary that describes one peer to a front end: "key", "ip", "port" (a number),
    // "systemSignature", and "avatar" only once the picture has arrived.
    static nlohmann::json peerDictionary(const VeltoPeer& peer);
    // One object mapping each peer key to its dictionary.
    static nlohmann::json toJson(const Table& peers);
    // Aligned columns: key, port, avatar yes/no, signature; a line saying so when empty.
    static std::string toText(const Table& peers);
};

}  // namespace velto::cli

#pragma once

#include <map>
#include <string>

#include "velto/VeltoPeer.h"

namespace velto::cli {

// The peer table as velto-cli prints it for people (--json prints the peer dictionaries).
class PeerListing {
  public:
    using Table = std::map<std::string, VeltoPeer>;

    // Aligned columns: key, port, avatar yes/no, signature; a line saying so when empty.
    static std::string toText(const Table& peers);
};

}  // namespace velto::cli

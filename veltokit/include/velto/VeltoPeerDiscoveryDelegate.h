#pragma once

#include <string>

#include "velto/Export.h"
#include "velto/VeltoPeer.h"

namespace velto {

// Peer-table reports. Calls arrive on the server's "broadcast" queue with a snapshot of the
// record as it was right after the change.
class VELTO_EXPORT VeltoPeerDiscoveryDelegate {
  public:
    virtual ~VeltoPeerDiscoveryDelegate() = default;
    virtual void peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) = 0;
    virtual void peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) = 0;
    virtual void peerDiscoveryWithRemoved(const std::string& key) = 0;
};

}  // namespace velto

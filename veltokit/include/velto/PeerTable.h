#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "velto/Export.h"
#include "velto/VeltoPeer.h"

namespace velto {

// The table of known peers, keyed by peer key. Written from library queues and read from any
// thread: every access takes the lock, and reads hand out copies.
class VELTO_EXPORT PeerTable {
  public:
    using Record = std::shared_ptr<VeltoPeer>;  // identity of one record for its lifetime

    std::map<std::string, VeltoPeer> snapshot() const;
    std::optional<VeltoPeer> find(const std::string& key) const;
    bool contains(const std::string& key) const;
    std::size_t size() const;
    // The signature of the peer at address (a peer's key is its address), without copying the
    // table.
    std::optional<std::string> signatureAt(const std::string& address) const;

    // Inserts peer when its key is absent; returns the stored record's copy and whether it was
    // inserted.
    std::pair<VeltoPeer, bool> addIfAbsent(const VeltoPeer& peer);

    // Internal record access for the discovery side.
    Record record(const std::string& key) const;
    void put(const std::string& key, Record record);
    bool remove(const std::string& key);
    // Applies change to the record under the lock and returns a copy of the result.
    template <typename Change>
    VeltoPeer update(const Record& record, Change&& change) {
        std::lock_guard lock(mutex_);
        change(*record);
        return *record;
    }
    // True when key still maps to this very record.
    bool holds(const std::string& key, const Record& record) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Record> records_;
};

}  // namespace velto

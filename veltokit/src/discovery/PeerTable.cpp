#include "velto/PeerTable.h"

namespace velto {

std::map<std::string, VeltoPeer> PeerTable::snapshot() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, VeltoPeer> copy;
    for (const auto& [key, record] : records_) {
        copy.emplace(key, *record);
    }
    return copy;
}

std::optional<VeltoPeer> PeerTable::find(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = records_.find(key);
    if (it == records_.end()) {
        return std::nullopt;
    }
    return *it->second;
}

bool PeerTable::contains(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return records_.count(key) != 0;
}

std::size_t PeerTable::size() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

std::optional<std::string> PeerTable::signatureAt(const std::string& address) const {
    std::lock_guard lock(mutex_);
    const auto it = records_.find(address);
    if (it == records_.end()) {
        return std::nullopt;
    }
    return it->second->systemSignature;
}

std::pair<VeltoPeer, bool> PeerTable::addIfAbsent(const VeltoPeer& peer) {
    std::lock_guard lock(mutex_);
    auto [it, inserted] = records_.try_emplace(peer.key, nullptr);
    if (inserted) {
        it->second = std::make_shared<VeltoPeer>(peer);
    }
    return {*it->second, inserted};
}

PeerTable::Record PeerTable::record(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = records_.find(key);
    return it == records_.end() ? nullptr : it->second;
}

void PeerTable::put(const std::string& key, Record record) {
    std::lock_guard lock(mutex_);
    records_[key] = std::move(record);
}

bool PeerTable::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    return records_.erase(key) != 0;
}

bool PeerTable::holds(const std::string& key, const Record& record) const {
    std::lock_guard lock(mutex_);
    auto it = records_.find(key);
    return it != records_.end() && it->second == record;
}

}  // namespace velto

#include "velto/VeltoEvents.h"

#include <chrono>

#include "velto/Diagnostics.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"

namespace velto {

namespace {

nlohmann::json textOrNull(const std::optional<std::string>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json progress(const std::string& key, std::uint64_t itemCount, std::uint64_t itemFinished,
                        std::uint64_t byteCount, std::uint64_t byteFinished) {
    return {{"key", key},
            {"itemCount", itemCount},
            {"itemFinished", itemFinished},
            {"byteCount", byteCount},
            {"byteFinished", byteFinished}};
}

}  // namespace

VeltoEvents::VeltoEvents(ServerSource server, Sink sink)
    : server_(std::move(server)), sink_(std::move(sink)) {}

nlohmann::json VeltoEvents::peerDictionary(const VeltoPeer& peer) {
    nlohmann::json dictionary = {{"key", peer.key},
                                 {"ip", peer.ip},
                                 {"port", peer.port},
                                 {"systemSignature", peer.systemSignature}};
    if (peer.hasAvatarPicture()) {
        dictionary["avatar"] = peer.avatar;
    }
    return dictionary;
}

nlohmann::json VeltoEvents::peerDictionaries(const std::map<std::string, VeltoPeer>& peers) {
    nlohmann::json result = nlohmann::json::object();
    for (const auto& [key, peer] : peers) {
        result[key] = peerDictionary(peer);
    }
    return result;
}

void VeltoEvents::deliver(std::string_view name, nlohmann::json data,
                          std::optional<VeltoPeer> sender) {
    VeltoEvent event{0, std::string(name), std::move(data), std::move(sender)};
    std::lock_guard lock(mutex_);
    event.sequence = nextSequence_++;
    if (sink_) {
        sink_(event);
    }
}

bool VeltoEvents::progressDue(const std::string& key, std::uint64_t itemCount,
                              std::uint64_t itemFinished, std::uint64_t byteCount,
                              std::uint64_t byteFinished) {
    const auto now = std::chrono::steady_clock::now();
    const bool complete = itemFinished == itemCount && byteFinished == byteCount;
    std::lock_guard lock(progressMutex_);
    const auto [last, first] = lastProgress_.try_emplace(key, now);
    if (first || complete || now - last->second >= progressInterval) {
        last->second = now;
        return true;
    }
    return false;
}

void VeltoEvents::forgetProgress(const std::string& key) {
    std::lock_guard lock(progressMutex_);
    lastProgress_.erase(key);
}

void VeltoEvents::deliverIncoming(std::string_view name, const VeltoIncomingTransfer& transfer,
                                  nlohmann::json data) {
    deliver(name, std::move(data), transfer.peer());
}

std::string_view VeltoEvents::outcomeName(TransferOutcome outcome) {
    switch (outcome) {
        case TransferOutcome::cancelled:
            return "cancelled";
        case TransferOutcome::declined:
            return "declined";
        case TransferOutcome::refused:
            return "refused";
        case TransferOutcome::running:
        case TransferOutcome::finished:
        case TransferOutcome::failed:
            break;
    }
    return "failed";
}

// ---- the peer table

void VeltoEvents::peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) {
    diagnostic("added peer", key);
    deliver(events::peerAdded, {{"key", key}, {"peer", peerDictionary(peer)}});
}

void VeltoEvents::peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) {
    diagnostic("modified peer", key);
    deliver(events::peerModified, {{"key", key}, {"peer", peerDictionary(peer)}});
}

void VeltoEvents::peerDiscoveryWithRemoved(const std::string& key) {
    diagnostic("removed peer", key);
    deliver(events::peerRemoved, {{"key", key}});
}

// ---- outgoing transfers

void VeltoEvents::transferWithConnected(VeltoTransfer& transfer) {
    deliver(events::transferConnected, {{"key", transfer.key()}});
}

void VeltoEvents::transferWithFinished(VeltoTransfer& transfer) {
    forgetProgress(transfer.key());
    deliver(events::transferFinished, {{"key", transfer.key()}});
}

void VeltoEvents::transferWithFailed(VeltoTransfer& transfer) {
    forgetProgress(transfer.key());
    diagnostic("failed");
    deliver(events::transferFailed, {{"key", transfer.key()},
                                     {"outcome", outcomeName(transfer.outcome())},
                                     {"reason", transfer.failureReason()}});
}

void VeltoEvents::transferWithWaiting(VeltoTransfer& transfer, bool waiting) {
    deliver(events::transferWaiting, {{"key", transfer.key()}, {"waiting", waiting}});
}

void VeltoEvents::transferWithProgress(VeltoTransfer& transfer, std::uint64_t itemCount,
                                       std::uint64_t itemFinished, std::uint64_t byteCount,
                                       std::uint64_t byteFinished) {
    if (!progressDue(transfer.key(), itemCount, itemFinished, byteCount, byteFinished)) {
        return;
    }
    deliver(events::transferProgress,
            progress(transfer.key(), itemCount, itemFinished, byteCount, byteFinished));
}

void VeltoEvents::transferWithRenamedItems(VeltoTransfer& transfer,
                                           const std::vector<std::string>& names) {
    deliver(events::transferRenamed, {{"key", transfer.key()}, {"names", names}});
}

void VeltoEvents::transferWithSkippedPaths(const std::string& key,
                                           const std::vector<SkippedPath>& skipped,
                                           bool nothingLeft) {
    if (skipped.empty()) {
        return;
    }
    nlohmann::json left = nlohmann::json::array();
    for (const auto& path : skipped) {
        left.push_back({{"path", path.path}, {"reason", path.reason}});
    }
    deliver(events::transferSkipped,
            {{"key", key}, {"skipped", std::move(left)}, {"nothingLeft", nothingLeft}});
}

void VeltoEvents::transferWithNothingToSend(const std::string& key) {
    deliver(events::transferFailed,
            {{"key", key}, {"outcome", "failed"}, {"reason", "nothing left to send"}});
}

// ---- incoming transfers

void VeltoEvents::incomingTransferWithCreated(VeltoIncomingTransfer& transfer) {
    const auto host = transfer.remoteHost();
    const auto server = server_ ? server_() : nullptr;
    if (!host || server == nullptr) {
        // Without an address there is no peer to show it under; without a server no table to
        // record one in. Recording a peer with an empty key would make a peer nobody can reach.
        diagnostic(host ? "incoming transfer while no server runs:"
                        : "incoming transfer without a sender address:",
                   transfer.key());
        return;
    }
    // A sender that never said hello becomes a peer known by its address alone, listening
    // where every host does unless told otherwise.
    const auto [peer, added] = server->peers().addIfAbsent(
        VeltoPeer(*host, *host, server->defaultTcpPort, *host, std::chrono::system_clock::now()));
    if (added) {
        peerDiscoveryWithAdded(*host, peer);
    }
    transfer.setPeer(peer);
    deliver(events::transferIncoming, {{"key", transfer.key()}, {"peer", peerDictionary(peer)}},
            peer);
}

void VeltoEvents::incomingTransferWithFinished(VeltoIncomingTransfer& transfer) {
    forgetProgress(transfer.key());
    deliverIncoming(events::transferFinished, transfer, {{"key", transfer.key()}});
}

void VeltoEvents::incomingTransferWithFailed(VeltoIncomingTransfer& transfer) {
    forgetProgress(transfer.key());
    diagnostic("failed");
    deliverIncoming(events::transferFailed, transfer,
                    {{"key", transfer.key()},
                     {"outcome", outcomeName(transfer.outcome())},
                     {"reason", transfer.failureReason()}});
}

// The sender's peer dictionary comes with the question: a front end may show the question
// before anything else of the transfer.
void VeltoEvents::incomingTransferWithQuestion(VeltoIncomingTransfer& transfer,
                                               std::uint64_t itemCount, std::uint64_t totalSize,
                                               const std::string& firstName) {
    nlohmann::json data = {{"key", transfer.key()},
                           {"itemCount", itemCount},
                           {"totalSize", totalSize},
                           {"firstName", firstName},
                           {"secondsLeft", VeltoIncomingTransfer::questionTimeout()}};
    if (const auto peer = transfer.peer()) {
        data["peer"] = peerDictionary(*peer);
    }
    deliverIncoming(events::transferAsking, transfer, std::move(data));
}

void VeltoEvents::incomingTransferWithProgress(VeltoIncomingTransfer& transfer,
                                               std::uint64_t itemCount, std::uint64_t itemFinished,
                                               std::uint64_t byteCount, std::uint64_t byteFinished,
                                               const std::optional<std::string>& filename,
                                               const std::optional<std::string>& filepath) {
    if (!progressDue(transfer.key(), itemCount, itemFinished, byteCount, byteFinished)) {
        return;
    }
    auto data = progress(transfer.key(), itemCount, itemFinished, byteCount, byteFinished);
    data["filename"] = textOrNull(filename);
    data["filepath"] = textOrNull(filepath);
    data["isIncoming"] = true;
    deliverIncoming(events::transferProgress, transfer, std::move(data));
}

void VeltoEvents::incomingTransferWithReceivedText(VeltoIncomingTransfer& transfer,
                                                   const std::string& text) {
    deliverIncoming(events::transferIncomingText, transfer,
                    {{"key", transfer.key()}, {"text", text}});
}

void VeltoEvents::incomingTransferWithReceivedFile(VeltoIncomingTransfer& transfer,
                                                   const std::string& path) {
    deliverIncoming(events::transferIncomingFile, transfer,
                    {{"key", transfer.key()}, {"path", path}});
}

void VeltoEvents::incomingConnectionRefused(const std::string& address, const std::string& reason) {
    deliver(events::transferRefused, {{"from", address}, {"reason", reason}});
}

void VeltoEvents::settingApplied(const std::string& key, const std::string& value) {
    deliver(events::settingApplied, {{"key", key}, {"value", value}});
}

}  // namespace velto

#include "ReceiveEventPrinter.h"

#include "PeerListing.h"
#include "TransferProgressBar.h"
#include "velto/VeltoIncomingTransfer.h"

namespace velto::cli {
namespace {

nlohmann::json optionalText(const std::optional<std::string>& text) {
    return text ? nlohmann::json(*text) : nlohmann::json(nullptr);
}

}  // namespace

ReceiveEventPrinter::ReceiveEventPrinter(PeerTable& peers, bool json,
                                         std::function<void()> outputLost, std::FILE* out,
                                         std::FILE* errors)
    : peers_(peers), json_(json), out_(out), errors_(errors), outputLost_(std::move(outputLost)) {}

void ReceiveEventPrinter::line(std::FILE* stream, const std::string& text) {
    std::lock_guard lock(mutex_);
    std::fputs(text.c_str(), stream);
    std::fputc('\n', stream);
    const bool written = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    if (!written && stream == out_ && !outputLostTold_) {
        outputLostTold_ = true;
        if (outputLost_) {
            outputLost_();
        }
    }
}

void ReceiveEventPrinter::event(const std::string& name, nlohmann::json data) {
    const nlohmann::json envelope = {{"event", name}, {"data", std::move(data)}};
    line(out_, envelope.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string ReceiveEventPrinter::senderOf(const VeltoIncomingTransfer& transfer) {
    const auto peer = transfer.peer();
    return peer ? peer.value().systemSignature + " (" + peer.value().ip + ")" : "an unknown peer";
}

void ReceiveEventPrinter::peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) {
    if (json_) {
        event("peer-added", {{"key", key}, {"peer", PeerListing::peerDictionary(peer)}});
    }
}

void ReceiveEventPrinter::peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) {
    if (json_) {
        event("peer-modified", {{"key", key}, {"peer", PeerListing::peerDictionary(peer)}});
    }
}

void ReceiveEventPrinter::peerDiscoveryWithRemoved(const std::string& key) {
    if (json_) {
        event("peer-removed", {{"key", key}});
    }
}

void ReceiveEventPrinter::incomingTransferWithCreated(VeltoIncomingTransfer& transfer) {
    const std::string host = transfer.remoteHost().value_or("");
    const auto [peer, added] =
        peers_.addIfAbsent(VeltoPeer(host, host, 4644, host, std::chrono::system_clock::now()));
    if (added) {
        peerDiscoveryWithAdded(host, peer);
    }
    transfer.setPeer(peer);
    if (questions_) {
        questions_->track(transfer);
    }
    if (json_) {
        event("transfer-incoming",
              {{"key", transfer.key()}, {"peer", PeerListing::peerDictionary(peer)}});
    }
}

void ReceiveEventPrinter::incomingTransferWithProgress(
    VeltoIncomingTransfer& transfer, std::uint64_t itemCount, std::uint64_t itemFinished,
    std::uint64_t byteCount, std::uint64_t byteFinished, const std::optional<std::string>& filename,
    const std::optional<std::string>& filepath) {
    if (!json_) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        auto& last = lastProgress_[transfer.key()];
        const bool complete = itemFinished == itemCount && byteFinished == byteCount;
        if (!complete && last != std::chrono::steady_clock::time_point{} &&
            now - last < progressInterval) {
            return;
        }
        last = now;
    }
    event("transfer-progress", {{"key", transfer.key()},
                                {"itemCount", itemCount},
                                {"itemFinished", itemFinished},
                                {"byteCount", byteCount},
                                {"byteFinished", byteFinished},
                                {"filename", optionalText(filename)},
                                {"filepath", optionalText(filepath)},
                                {"isIncoming", true}});
}

void ReceiveEventPrinter::incomingTransferWithReceivedText(VeltoIncomingTransfer& transfer,
                                                           const std::string& text) {
    if (json_) {
        event("transfer-incoming-text", {{"key", transfer.key()}, {"text", text}});
    } else {
        line(out_, "Received text from " + senderOf(transfer) + ": " + text);
    }
}

void ReceiveEventPrinter::incomingTransferWithReceivedFile(VeltoIncomingTransfer& transfer,
                                                           const std::string& path) {
    if (json_) {
        event("transfer-incoming-file", {{"key", transfer.key()}, {"path", path}});
    } else {
        line(out_, "Received " + path + " from " + senderOf(transfer));
    }
}

void ReceiveEventPrinter::incomingTransferWithQuestion(VeltoIncomingTransfer& transfer,
                                                       std::uint64_t itemCount,
                                                       std::uint64_t totalSize,
                                                       const std::string& firstName) {
    if (json_) {
        event("transfer-asking", {{"key", transfer.key()},
                                  {"sender", transfer.remoteHost().value_or("")},
                                  {"itemCount", itemCount},
                                  {"totalSize", totalSize},
                                  {"firstName", firstName}});
    } else {
        line(out_, senderOf(transfer) + " wants to send " + std::to_string(itemCount) +
                       (itemCount == 1 ? " item (" : " items (") +
                       TransferProgressBar::bytes(static_cast<double>(totalSize)) +
                       "), the first \"" + firstName + "\". Accept? [y/n]");
    }
    if (questions_) {
        questions_->ask(transfer);
    } else {
        transfer.decline();  // nobody can answer
    }
}

void ReceiveEventPrinter::incomingTransferWithFinished(VeltoIncomingTransfer& transfer) {
    forget(transfer);
    if (json_) {
        event("transfer-finished", {{"key", transfer.key()}});
    }
}

void ReceiveEventPrinter::incomingTransferWithFailed(VeltoIncomingTransfer& transfer) {
    forget(transfer);
    static const std::map<TransferOutcome, std::string> outcomes{
        {TransferOutcome::cancelled, "cancelled"},
        {TransferOutcome::declined, "declined"},
        {TransferOutcome::refused, "refused"}};
    const auto named = outcomes.find(transfer.outcome());
    const std::string outcome = named == outcomes.end() ? "failed" : named->second;
    if (json_) {
        event(
            "transfer-failed",
            {{"key", transfer.key()}, {"outcome", outcome}, {"reason", transfer.failureReason()}});
    } else {
        const std::string& reason = transfer.failureReason();
        line(errors_, "A transfer from " + senderOf(transfer) + " " +
                          (outcome == "failed" ? "failed" : "was " + outcome) +
                          (reason == outcome ? "" : " (" + reason + ")") +
                          "; nothing of it was kept");
    }
}

void ReceiveEventPrinter::forget(const VeltoIncomingTransfer& transfer) {
    std::lock_guard lock(mutex_);
    lastProgress_.erase(transfer.key());
}

}  // namespace velto::cli

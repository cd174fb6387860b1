#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "TransferQuestions.h"
#include "velto/PeerTable.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeerDiscoveryDelegate.h"

namespace velto::cli {

// What "velto-cli receive" prints: each received text and published path as a line, or with
// --json one object per line, {"event": name, "data": {...}}, with the page's event names and
// fields. Like the desktop program, it records a sender that never said hello as a peer.
// Output that cannot be written (a reader that went away) is told to outputLost, once.
class ReceiveEventPrinter : public VeltoPeerDiscoveryDelegate,
                            public VeltoIncomingTransferDelegate {
  public:
    // Progress lines of one transfer are at most this frequent (the last always comes).
    static constexpr std::chrono::milliseconds progressInterval{100};

    ReceiveEventPrinter(PeerTable& peers, bool json, std::function<void()> outputLost,
                        std::FILE* out = stdout, std::FILE* errors = stderr);

    void peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) override;
    void peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) override;
    void peerDiscoveryWithRemoved(const std::string& key) override;

    void incomingTransferWithCreated(VeltoIncomingTransfer& transfer) override;
    void incomingTransferWithFinished(VeltoIncomingTransfer& transfer) override;
    void incomingTransferWithFailed(VeltoIncomingTransfer& transfer) override;
    void incomingTransferWithProgress(VeltoIncomingTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t itemFinished, std::uint64_t byteCount,
                                      std::uint64_t byteFinished,
                                      const std::optional<std::string>& filename,
                                      const std::optional<std::string>& filepath) override;
    void incomingTransferWithReceivedText(VeltoIncomingTransfer& transfer,
                                          const std::string& text) override;
    void incomingTransferWithReceivedFile(VeltoIncomingTransfer& transfer,
                                          const std::string& path) override;
    // "transfer-asking", or a prompt on the terminal; the answer comes through questions.
    void incomingTransferWithQuestion(VeltoIncomingTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t totalSize,
                                      const std::string& firstName) override;
    // Where the transfers go that may be answered or cancelled; set before the server starts.
    void setQuestions(std::shared_ptr<TransferQuestions> questions) {
        questions_ = std::move(questions);
    }

  private:
    void event(const std::string& name, nlohmann::json data);
    void line(std::FILE* stream, const std::string& text);
    void forget(const VeltoIncomingTransfer& transfer);
    static std::string senderOf(const VeltoIncomingTransfer& transfer);

    PeerTable& peers_;
    const bool json_;
    std::FILE* out_;
    std::FILE* errors_;
    std::function<void()> outputLost_;
    bool outputLostTold_ = false;
    std::mutex mutex_;  // reports come from the broadcast and the incoming queue
    std::map<std::string, std::chrono::steady_clock::time_point> lastProgress_;
    std::shared_ptr<TransferQuestions> questions_;
};

}  // namespace velto::cli

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "velto/Export.h"
#include "velto/TransferOutcome.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoPeer.h"
#include "velto/VeltoPeerDiscoveryDelegate.h"
#include "velto/VeltoTransfer.h"
#include "velto/VeltoTransferDelegate.h"

namespace velto {

class VeltoServer;

// The names of the events a front end receives; their fields are made in VeltoEvents alone.
namespace events {
inline constexpr std::string_view peerAdded = "peer-added";
inline constexpr std::string_view peerModified = "peer-modified";
inline constexpr std::string_view peerRemoved = "peer-removed";
inline constexpr std::string_view transferConnected = "transfer-connected";
inline constexpr std::string_view transferProgress = "transfer-progress";
inline constexpr std::string_view transferFinished = "transfer-finished";
inline constexpr std::string_view transferFailed = "transfer-failed";
inline constexpr std::string_view transferRenamed = "transfer-renamed";
inline constexpr std::string_view transferSkipped = "transfer-skipped";
inline constexpr std::string_view transferIncoming = "transfer-incoming";
inline constexpr std::string_view transferIncomingText = "transfer-incoming-text";
inline constexpr std::string_view transferIncomingFile = "transfer-incoming-file";
inline constexpr std::string_view transferAsking = "transfer-asking";
inline constexpr std::string_view transferWaiting = "transfer-waiting";
inline constexpr std::string_view transferRefused = "transfer-refused";
inline constexpr std::string_view settingApplied = "setting-applied";
}  // namespace events

// One event for a front end, shown to it as {"event": name, "data": data}.
struct VeltoEvent {
    std::uint64_t sequence = 0;  // 1 for the first event of its VeltoEvents, then one more each
    std::string name;
    nlohmann::json data = nlohmann::json::object();
    // Events of an incoming transfer: its sender as the transfer knew it at the report.
    std::optional<VeltoPeer> sender;

    nlohmann::json envelope() const { return {{"event", name}, {"data", data}}; }
};

// Turns the library's reports into the events of a front end and hands them to its sink one at
// a time, in the order the reports came in, whichever queue each came on: the sink is never
// entered twice at once, and a report that returned before another began has its event first.
// Peer-table reports carry the peer dictionary; an incoming transfer from an address that never
// said hello first records that address as a peer of the server, on the standard port.
class VELTO_EXPORT VeltoEvents final : public VeltoPeerDiscoveryDelegate,
                                       public VeltoTransferDelegate,
                                       public VeltoIncomingTransferDelegate {
  public:
    using Sink = std::function<void(const VeltoEvent& event)>;
    // The server whose peer table records unknown senders; null when there is none (yet).
    using ServerSource = std::function<std::shared_ptr<VeltoServer>()>;

    VeltoEvents(ServerSource server, Sink sink);

    // A peer as front ends see it: "key", "ip", "port" (a number), "systemSignature", and
    // "avatar" only once a picture has arrived.
    static nlohmann::json peerDictionary(const VeltoPeer& peer);
    // Each key of the table mapped to its peer's dictionary.
    static nlohmann::json peerDictionaries(const std::map<std::string, VeltoPeer>& peers);
    // How a transfer ended, as "transfer-failed" names it: "failed", "cancelled" (on this
    // side), "declined" or "refused".
    static std::string_view outcomeName(TransferOutcome outcome);

    void peerDiscoveryWithAdded(const std::string& key, const VeltoPeer& peer) override;
    void peerDiscoveryWithModified(const std::string& key, const VeltoPeer& peer) override;
    void peerDiscoveryWithRemoved(const std::string& key) override;

    void transferWithConnected(VeltoTransfer& transfer) override;
    void transferWithFinished(VeltoTransfer& transfer) override;
    void transferWithFailed(VeltoTransfer& transfer) override;
    void transferWithProgress(VeltoTransfer& transfer, std::uint64_t itemCount,
                              std::uint64_t itemFinished, std::uint64_t byteCount,
                              std::uint64_t byteFinished) override;
    void transferWithRenamedItems(VeltoTransfer& transfer,
                                  const std::vector<std::string>& names) override;
    void transferWithWaiting(VeltoTransfer& transfer, bool waiting) override;

    // A send the front end prepared: what it leaves out (no event when nothing), and a send
    // left with nothing to send, which ends as failed before any transfer exists.
    void transferWithSkippedPaths(const std::string& key, const std::vector<SkippedPath>& skipped,
                                  bool nothingLeft);
    void transferWithNothingToSend(const std::string& key);

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
    void incomingTransferWithQuestion(VeltoIncomingTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t totalSize,
                                      const std::string& firstName) override;
    // "from" (the address) and "reason" in words.
    void incomingConnectionRefused(const std::string& address, const std::string& reason) override;

    // A change of the settings file now in force: "key" as velto-cli spells it and "value" in
    // words; key "problem" carries words about the file itself.
    void settingApplied(const std::string& key, const std::string& value);

    // A transfer's progress becomes an event at most this often, besides its first report and
    // the one that completes it: a transfer of many small elements reports several times per
    // element, and thousands of events a second would cost more than the transfer itself.
    static constexpr std::chrono::milliseconds progressInterval{25};

  private:
    bool progressDue(const std::string& key, std::uint64_t itemCount, std::uint64_t itemFinished,
                     std::uint64_t byteCount, std::uint64_t byteFinished);
    void forgetProgress(const std::string& key);
    void deliver(std::string_view name, nlohmann::json data,
                 std::optional<VeltoPeer> sender = std::nullopt);
    void deliverIncoming(std::string_view name, const VeltoIncomingTransfer& transfer,
                         nlohmann::json data);

    const ServerSource server_;
    const Sink sink_;
    std::mutex mutex_;  // one event at a time, numbered in the order they reach the sink
    std::uint64_t nextSequence_ = 1;
    std::mutex progressMutex_;
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> lastProgress_;
};

}  // namespace velto

// velto-cli send PEER [--text TEXT | PATH...]: push a text, or files and folders, to one peer.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "CliCommand.h"
#include "CliSession.h"
#include "PeerChoice.h"
#include "TransferProgressBar.h"
#include "velto/VeltoTransfer.h"

namespace velto::cli {
namespace {

constexpr std::chrono::milliseconds pollInterval{100};
// The end of a transfer is looked for often: a short text is done within milliseconds, and a
// script sending many should not wait a tenth of a second after each.
constexpr std::chrono::milliseconds outcomePollInterval{2};
constexpr std::chrono::milliseconds redrawInterval{100};

// Follows one outgoing transfer: draws the bar on a terminal and tells the waiting command
// how it ended.
class SendReporter : public VeltoTransferDelegate {
  public:
    SendReporter(bool drawBar, std::string receiver)
        : drawBar_(drawBar), receiver_(std::move(receiver)) {}

    void transferWithConnected(VeltoTransfer&) override {
        std::lock_guard lock(mutex_);
        bar_.emplace(TransferProgressBar::Clock::now());
    }
    void transferWithProgress(VeltoTransfer&, std::uint64_t, std::uint64_t itemFinished,
                              std::uint64_t byteCount, std::uint64_t byteFinished) override {
        std::lock_guard lock(mutex_);
        itemFinished_ = itemFinished;
        byteFinished_ = byteFinished;
        const auto now = TransferProgressBar::Clock::now();
        if (drawBar_ && bar_ && (now - lastDrawn_ >= redrawInterval || byteFinished == byteCount)) {
            lastDrawn_ = now;
            std::printf("\r%s", bar_->line(byteFinished, byteCount, now).c_str());
            std::fflush(stdout);
        }
    }
    void transferWithRenamedItems(VeltoTransfer&, const std::vector<std::string>& names) override {
        for (const auto& name : names) {
            std::printf("Renamed for sending: %s (the name on disk is not valid UTF-8)\n",
                        name.c_str());
        }
        std::fflush(stdout);
    }
    void transferWithWaiting(VeltoTransfer&, bool waiting) override {
        if (waiting) {
            std::lock_guard lock(mutex_);
            std::fprintf(stderr, "%sWaiting for %s to accept\n", drawBar_ && bar_ ? "\n" : "",
                         receiver_.c_str());
        }
    }
    void transferWithFinished(VeltoTransfer&) override { end(true); }
    void transferWithFailed(VeltoTransfer& transfer) override {
        {
            std::lock_guard lock(mutex_);
            failureReason_ = transfer.failureReason();
        }
        end(false);
    }

    // The outcome once the transfer ended: true for finished.
    std::optional<bool> outcome() const {
        std::lock_guard lock(mutex_);
        return outcome_;
    }
    std::uint64_t itemsDone() const {
        std::lock_guard lock(mutex_);
        return itemFinished_;
    }
    std::string failureReason() const {
        std::lock_guard lock(mutex_);
        return failureReason_;
    }

  private:
    void end(bool finished) {
        std::lock_guard lock(mutex_);
        if (drawBar_ && bar_) {
            std::printf("\n");
        }
        outcome_ = finished;
    }

    const bool drawBar_;
    const std::string receiver_;
    mutable std::mutex mutex_;
    std::optional<TransferProgressBar> bar_;
    TransferProgressBar::Clock::time_point lastDrawn_{};
    std::uint64_t itemFinished_ = 0;
    std::uint64_t byteFinished_ = 0;
    std::optional<bool> outcome_;
    std::string failureReason_;
};

class SendCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_option("PEER", peer_, "IPv4 address, or a unique part of a peer's signature")
            ->required();
        auto* text = command.add_option("--text", text_, "Send this text");
        command.add_option("PATH", paths_, "Files and folders to send")->excludes(text);
        command.add_option("--wait", waitSeconds_, "Seconds to look for the peer")
            ->capture_default_str()
            ->check(CLI::Range(0.0, 600.0));
    }

    int run(CliSession& session) override {
        if (!text_ && paths_.empty()) {
            std::fprintf(stderr, "velto-cli: give --text TEXT or at least one PATH\n");
            return 2;
        }
        if (PeerChoice::isMalformedAddress(peer_)) {
            std::fprintf(stderr, "%s\n", PeerChoice::addressRefusal(peer_).c_str());
            return 2;
        }
        const ItemList items = text_ ? VeltoTransfer::itemsForText(*text_) : itemsForPaths();
        if (items.empty()) {
            std::fprintf(stderr, "velto-cli: nothing to send\n");
            return 2;
        }
        std::optional<VeltoPeer> peer;
        VeltoServer* server = nullptr;
        if (PeerChoice::isAddress(peer_)) {
            peer = PeerChoice::choose(peer_, {}).peer;  // no need to bind the ports
        } else {
            server = &session.startServer();
            server->sayHello();
            const int signal = findPeer(session, *server, peer);
            if (signal != 0 || !peer) {
                session.sayGoodbye();
                return signal != 0 ? CliSession::statusForSignal(signal) : 2;
            }
        }
        const int status = send(session, server, items, *peer);
        if (server != nullptr) {
            session.sayGoodbye();
        }
        return status;
    }

  private:
    ItemList itemsForPaths() const {
        std::vector<std::string> absolute;
        for (const auto& path : paths_) {
            // A name comes from the last component, so "." must become the folder's own name.
            auto full = std::filesystem::absolute(path).lexically_normal().string();
            absolute.push_back(
                full.size() > 1 && full.back() == '/' ? full.substr(0, full.size() - 1) : full);
        }
        std::vector<SkippedPath> skipped;
        ItemList items = VeltoTransfer::itemsForPaths(absolute, skipped);
        for (const auto& entry : skipped) {
            std::fprintf(stderr, "velto-cli: leaving out %s: %s\n", entry.path.c_str(),
                         entry.reason.c_str());
        }
        return items;
    }

    // Waits for discovery until the text names exactly one peer; the stop signal, or 0.
    int findPeer(CliSession& session, VeltoServer& server, std::optional<VeltoPeer>& peer) const {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(waitSeconds_));
        PeerChoice::Result choice;
        for (;;) {
            choice = PeerChoice::choose(peer_, server.peers().snapshot());
            if (choice.peer || std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            if (const int signal = session.waitForStopSignal(pollInterval)) {
                return signal;
            }
        }
        peer = choice.peer;
        if (!peer && choice.candidates.empty()) {
            std::fprintf(stderr, "velto-cli: no peer matches \"%s\"\n", peer_.c_str());
        }
        if (!peer && !choice.candidates.empty()) {
            std::fprintf(stderr, "velto-cli: \"%s\" matches several peers:\n", peer_.c_str());
            for (const auto& candidate : choice.candidates) {
                std::fprintf(stderr, "  %s\n", candidate.c_str());
            }
        }
        return 0;
    }

    int send(CliSession& session, VeltoServer* server, const ItemList& items,
             const VeltoPeer& peer) const {
        auto reporter = std::make_shared<SendReporter>(
            isatty(STDOUT_FILENO) == 1,
            peer.systemSignature.empty() || peer.systemSignature == peer.ip
                ? peer.ip
                : peer.systemSignature + " (" + peer.ip + ")");
        auto transfer = VeltoTransfer::create(items, peer, DispatchQueue::create("outgoing"));
        transfer->setDelegate(reporter);
        transfer->setKey("velto-cli");
        if (server != nullptr) {
            server->startTransfer(transfer);
        } else {
            transfer->start();
        }
        while (!reporter->outcome()) {
            if (const int signal = session.waitForStopSignal(outcomePollInterval)) {
                return cancel(*transfer, *reporter, signal);
            }
        }
        if (!*reporter->outcome()) {
            const std::string reason = reporter->failureReason();
            if (reporter->itemsDone() == items.size()) {  // all written, not all taken
                std::fprintf(stderr,
                             "velto-cli: sending to %s failed: the receiver did not take all "
                             "of it (%s)\n",
                             peer.ip.c_str(), reason.c_str());
            } else {
                std::fprintf(
                    stderr, "velto-cli: sending to %s failed after %llu of %zu items (%s)\n",
                    peer.ip.c_str(), static_cast<unsigned long long>(reporter->itemsDone()),
                    items.size(), reason.c_str());
            }
            return 1;
        }
        std::printf("Sent %zu item%s (%s) to %s\n", items.size(), items.size() == 1 ? "" : "s",
                    TransferProgressBar::bytes(static_cast<double>(transfer->totalSize())).c_str(),
                    peer.ip.c_str());
        return 0;
    }

    // A stop signal cancels the transfer: its connection closes at once, so the receiver keeps
    // nothing of it, and it is never reported as sent.
    static int cancel(VeltoTransfer& transfer, const SendReporter& reporter, int signal) {
        transfer.cancel();
        for (int waited = 0; !reporter.outcome() && waited < 1000; ++waited) {
            std::this_thread::sleep_for(outcomePollInterval);
        }
        if (reporter.outcome().value_or(false)) {
            std::fprintf(stderr, "velto-cli: stopped after everything was sent\n");
        } else {
            std::fprintf(stderr, "velto-cli: cancelled; the transfer was not completed\n");
        }
        return CliSession::statusForSignal(signal);
    }

    std::string peer_;
    std::optional<std::string> text_;
    std::vector<std::string> paths_;
    double waitSeconds_ = 5;
};

}  // namespace

VELTO_CLI_COMMAND(SendCommand, "send", "Send a text, or files and folders, to a peer")

}  // namespace velto::cli

#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "velto/TransferOutcome.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoIncomingTransferDelegate.h"
#include "velto/VeltoTransfer.h"
#include "velto/VeltoTransferDelegate.h"

namespace velto::test {

// One report as a delegate received it; progress carries its numbers.
struct Report {
    std::string kind;  // "connected", "progress", "finished", "failed", "renamed", "created",
                       // "text", "file", "question" (with itemCount, byteCount and name)
    std::uint64_t itemCount = 0;
    std::uint64_t itemFinished = 0;
    std::uint64_t byteCount = 0;
    std::uint64_t byteFinished = 0;
    std::optional<std::string> name{};  // progress: filename; text: the text; file: the path;
                                        // renamed: the name sent
    std::optional<std::string> path{};  // progress: filepath
    TransferOutcome outcome = TransferOutcome::running;  // of failed
};

// Keeps every report in order; waits for the transfer's end (finished or failed).
class ReportLog {
  public:
    void add(Report report);
    std::vector<Report> reports() const;
    std::vector<std::string> kinds() const;  // progress reports folded into one "progress" each
    // Waits until finished or failed arrives (a guard against hangs, not a speed check).
    bool waitForEnd(std::chrono::seconds limit = std::chrono::seconds(60)) const;
    std::size_t count(const std::string& kind) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Report> reports_;
};

// Empty when the progress reports keep the rules of both directions: byteFinished and
// itemFinished never decrease, counts never change, nothing exceeds its count, and when the
// transfer finished the last progress report has every item and byte done; otherwise a
// description of the first breach.
std::string progressBreach(const std::vector<Report>& reports);

class RecordingTransferDelegate : public VeltoTransferDelegate, public ReportLog {
  public:
    void transferWithConnected(VeltoTransfer&) override { add({"connected"}); }
    void transferWithFinished(VeltoTransfer&) override { add({"finished"}); }
    void transferWithFailed(VeltoTransfer& transfer) override {
        add({.kind = "failed", .outcome = transfer.outcome()});
    }
    void transferWithProgress(VeltoTransfer& transfer, std::uint64_t itemCount,
                              std::uint64_t itemFinished, std::uint64_t byteCount,
                              std::uint64_t byteFinished) override {
        add({"progress", itemCount, itemFinished, byteCount, byteFinished});
        if (onProgress) {
            onProgress(transfer, byteFinished);
        }
    }
    // Kept apart from the reports: a transfer held up for long says it waits.
    void transferWithWaiting(VeltoTransfer&, bool waiting) override {
        std::lock_guard lock(waitingMutex_);
        waitingChanges_.push_back(waiting);
    }
    std::vector<bool> waitingChanges() const {
        std::lock_guard lock(waitingMutex_);
        return waitingChanges_;
    }
    // Set before the transfer starts; runs after each progress report, on its queue.
    std::function<void(VeltoTransfer&, std::uint64_t byteFinished)> onProgress;

    void transferWithRenamedItems(VeltoTransfer&, const std::vector<std::string>& names) override {
        for (const auto& name : names) {
            add({.kind = "renamed", .name = name});
        }
    }

  private:
    mutable std::mutex waitingMutex_;
    std::vector<bool> waitingChanges_;
};

class RecordingIncomingDelegate : public VeltoIncomingTransferDelegate, public ReportLog {
  public:
    void incomingTransferWithCreated(VeltoIncomingTransfer&) override { add({"created"}); }
    void incomingTransferWithFinished(VeltoIncomingTransfer&) override { add({"finished"}); }
    void incomingTransferWithFailed(VeltoIncomingTransfer& transfer) override {
        add({.kind = "failed", .outcome = transfer.outcome()});
    }
    void incomingTransferWithProgress(VeltoIncomingTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t itemFinished, std::uint64_t byteCount,
                                      std::uint64_t byteFinished,
                                      const std::optional<std::string>& filename,
                                      const std::optional<std::string>& filepath) override {
        add({"progress", itemCount, itemFinished, byteCount, byteFinished, filename, filepath});
        if (onProgress) {
            onProgress(transfer, byteFinished);
        }
    }
    void incomingTransferWithQuestion(VeltoIncomingTransfer& transfer, std::uint64_t itemCount,
                                      std::uint64_t totalSize,
                                      const std::string& firstName) override {
        {
            std::lock_guard lock(askedMutex_);
            asked_.push_back(transfer.weak_from_this());
        }
        add({.kind = "question",
             .itemCount = itemCount,
             .byteCount = totalSize,
             .name = firstName,
             .path = transfer.remoteHost()});
    }
    // The transfers that asked, in order (null once let go).
    std::vector<std::shared_ptr<VeltoIncomingTransfer>> asked() const {
        std::lock_guard lock(askedMutex_);
        std::vector<std::shared_ptr<VeltoIncomingTransfer>> alive;
        for (const auto& transfer : asked_) {
            alive.push_back(transfer.lock());
        }
        return alive;
    }
    std::function<void(VeltoIncomingTransfer&, std::uint64_t byteFinished)> onProgress;

    void incomingTransferWithReceivedText(VeltoIncomingTransfer&,
                                          const std::string& text) override {
        add({.kind = "text", .name = text});
    }
    void incomingTransferWithReceivedFile(VeltoIncomingTransfer&,
                                          const std::string& path) override {
        add({.kind = "file", .name = path});
    }
    void incomingConnectionRefused(const std::string& address, const std::string&) override {
        add({.kind = "refused", .name = address});
    }

  private:
    mutable std::mutex askedMutex_;
    std::vector<std::weak_ptr<VeltoIncomingTransfer>> asked_;
};

}  // namespace velto::test

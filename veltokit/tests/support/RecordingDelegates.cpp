#include "support/RecordingDelegates.h"

#include <algorithm>

namespace velto::test {

void ReportLog::add(Report report) {
    std::lock_guard lock(mutex_);
    reports_.push_back(std::move(report));
    changed_.notify_all();
}

std::vector<Report> ReportLog::reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
}

std::vector<std::string> ReportLog::kinds() const {
    std::vector<std::string> kinds;
    for (const auto& report : reports()) {
        if (report.kind != "progress" || kinds.empty() || kinds.back() != "progress") {
            kinds.push_back(report.kind);
        }
    }
    return kinds;
}

bool ReportLog::waitForEnd(std::chrono::seconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
        return std::any_of(reports_.begin(), reports_.end(), [](const Report& report) {
            return report.kind == "finished" || report.kind == "failed";
        });
    });
}

std::size_t ReportLog::count(const std::string& kind) const {
    const auto all = reports();
    return static_cast<std::size_t>(std::count_if(
        all.begin(), all.end(), [&](const Report& report) { return report.kind == kind; }));
}

std::string progressBreach(const std::vector<Report>& reports) {
    const Report* previous = nullptr;
    bool finished = false;
    for (const auto& report : reports) {
        finished = finished || report.kind == "finished";
        if (report.kind != "progress") {
            continue;
        }
        if (report.itemFinished > report.itemCount || report.byteFinished > report.byteCount) {
            return "progress beyond its count";
        }
        if (previous != nullptr) {
            if (report.itemCount != previous->itemCount ||
                report.byteCount != previous->byteCount) {
                return "the counts changed";
            }
            if (report.byteFinished < previous->byteFinished ||
                report.itemFinished < previous->itemFinished) {
                return "progress went back from " + std::to_string(previous->byteFinished) +
                       " to " + std::to_string(report.byteFinished);
            }
        }
        previous = &report;
    }
    if (finished && (previous == nullptr || previous->byteFinished != previous->byteCount ||
                     previous->itemFinished != previous->itemCount)) {
        return "finished without complete progress";
    }
    return {};
}

namespace {
Report event(std::string kind) {
    Report report;
    report.kind = std::move(kind);
    return report;
}
}  // namespace

void RecordingTransferDelegate::transferWithConnected(VeltoTransfer&) {
    add(event("connected"));
}
void RecordingTransferDelegate::transferWithFinished(VeltoTransfer&) {
    add(event("finished"));
}
void RecordingTransferDelegate::transferWithFailed(VeltoTransfer&) {
    add(event("failed"));
}
void RecordingTransferDelegate::transferWithProgress(VeltoTransfer&, std::uint64_t itemCount,
                                                     std::uint64_t itemFinished,
                                                     std::uint64_t byteCount,
                                                     std::uint64_t byteFinished) {
    add({"progress", itemCount, itemFinished, byteCount, byteFinished, {}, {}});
}

void RecordingIncomingDelegate::incomingTransferWithCreated(VeltoIncomingTransfer&) {
    add(event("created"));
}
void RecordingIncomingDelegate::incomingTransferWithFinished(VeltoIncomingTransfer&) {
    add(event("finished"));
}
void RecordingIncomingDelegate::incomingTransferWithFailed(VeltoIncomingTransfer&) {
    add(event("failed"));
}
void RecordingIncomingDelegate::incomingTransferWithProgress(
    VeltoIncomingTransfer&, std::uint64_t itemCount, std::uint64_t itemFinished,
    std::uint64_t byteCount, std::uint64_t byteFinished, const std::optional<std::string>& filename,
    const std::optional<std::string>& filepath) {
    add({"progress", itemCount, itemFinished, byteCount, byteFinished, filename, filepath});
}
void RecordingIncomingDelegate::incomingTransferWithReceivedText(VeltoIncomingTransfer&,
                                                                 const std::string& text) {
    add({"text", 0, 0, 0, 0, text, {}});
}
void RecordingIncomingDelegate::incomingTransferWithReceivedFile(VeltoIncomingTransfer&,
                                                                 const std::string& path) {
    add({"file", 0, 0, 0, 0, path, {}});
}

}  // namespace velto::test

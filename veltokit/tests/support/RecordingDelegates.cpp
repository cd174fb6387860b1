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

}  // namespace velto::test

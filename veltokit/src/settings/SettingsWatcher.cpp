#include "velto/SettingsWatcher.h"

#include <nlohmann/json.hpp>

#include "velto/VeltoServer.h"

namespace velto {
namespace {

std::string listed(const std::vector<ComputerIdentity>& computers) {
    std::string words;
    for (const auto& computer : computers) {
        words += (words.empty() ? "" : " ") + computer.address;
    }
    return words.empty() ? "none" : words;
}

}  // namespace

SettingsWatcher::SettingsWatcher(std::shared_ptr<VeltoServer> server, SettingsFile file,
                                 Options options, Report report)
    : server_(server),
      file_(std::move(file)),
      options_(std::move(options)),
      report_(std::move(report)) {
    auto loaded = file_.load();
    if (!loaded.problem.empty()) {
        this->report("problem", loaded.problem);
    }
    apply(loaded.settings, true);
    thread_ = std::thread([this] { run(); });
}

SettingsWatcher::~SettingsWatcher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void SettingsWatcher::run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, options_.pollInterval, [this] { return stopping_; })) {
        lock.unlock();
        poll();
        lock.lock();
    }
}

void SettingsWatcher::poll() {
    auto loaded = file_.load();
    if (!loaded.problem.empty()) {
        report("problem", loaded.problem);
    }
    endTimedModeIfDue(loaded.settings);
    recordHeardSignatures(loaded.settings);
    apply(loaded.settings, false);
}

void SettingsWatcher::apply(const Settings& settings, bool first) {
    const auto server = server_.lock();
    if (!server) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    ReceivePolicy policy = settings.policyAt(now);
    if (first || policy.mode() != appliedPolicy_.mode() ||
        policy.trusted() != appliedPolicy_.trusted() ||
        policy.blocked() != appliedPolicy_.blocked()) {
        server->setReceivePolicy(policy);
        if (!first) {
            if (policy.mode() != appliedPolicy_.mode()) {
                report("receive-mode", std::string(receiveModeName(policy.mode())));
            }
            if (policy.trusted() != appliedPolicy_.trusted()) {
                report("trusted", listed(policy.trusted()));
            }
            if (policy.blocked() != appliedPolicy_.blocked()) {
                report("blocked", listed(policy.blocked()));
            }
        }
        appliedPolicy_ = std::move(policy);
    }
    if (first || settings.visible() != applied_.visible()) {
        server->setVisible(settings.visible());
        if (!first) {
            report("visible", settings.visible() ? "yes" : "no");
        }
    }
    const std::string folder =
        options_.receivingFolder.empty() ? settings.receivingFolder() : options_.receivingFolder;
    if (first || folder != server->receivingFolder()) {
        server->setReceivingFolder(folder);
        if (!first) {
            report("receive-folder", folder.empty() ? "Downloads" : folder);
        }
    }
    if (first || settings.addedAddresses() != applied_.addedAddresses()) {
        server->setAddedAddresses(settings.addedAddresses());
    }
    applied_ = settings;
}

// Written back so that every program reading the file sees the mode in force.
void SettingsWatcher::endTimedModeIfDue(const Settings& settings) {
    const auto end = settings.everyoneTimedEnd();
    if (!end || std::chrono::system_clock::now() < *end) {
        return;
    }
    std::string problem;
    file_.update(
        [](Settings& current) {
            const auto now = std::chrono::system_clock::now();
            const auto due = current.everyoneTimedEnd();
            if (due && now >= *due) {
                current.setReceiveMode(current.receiveModeAt(now), now);
            }
        },
        &problem);
    if (!problem.empty()) {
        report("problem", problem);
    }
}

void SettingsWatcher::recordHeardSignatures(const Settings& settings) {
    const auto server = server_.lock();
    if (!server) {
        return;
    }
    std::vector<ComputerIdentity> heard;
    for (const auto& list : {settings.trusted(), settings.blocked()}) {
        for (const auto& entry : list) {
            const auto identity = server->identityOf(entry.address);
            if (entry.signature.empty() && !identity.signature.empty()) {
                heard.push_back(identity);
            }
        }
    }
    if (heard.empty()) {
        return;
    }
    std::string problem;
    file_.update(
        [&](Settings& current) {
            for (const auto& identity : heard) {
                current.recordSignature(identity);
            }
        },
        &problem);
    if (!problem.empty()) {
        report("problem", problem);
    }
}

void SettingsWatcher::report(const std::string& key, const std::string& value) {
    // A file that stays unwritable is told once, not at every poll.
    if (key == "problem") {
        if (value == lastProblem_) {
            return;
        }
        lastProblem_ = value;
    }
    if (report_) {
        report_(key, value);
    }
}

}  // namespace velto

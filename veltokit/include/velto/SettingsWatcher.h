#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "velto/Export.h"
#include "velto/Settings.h"
#include "velto/SettingsFile.h"

namespace velto {

class VeltoServer;

// Keeps a running server in step with the settings file, whoever changes it: the receive
// policy (and the end of a timed mode, which it writes back to the file), the visibility, the
// receiving folder and the added addresses, each applied within a poll of the change. It also
// completes the file's trusted and blocked entries with the signature of a computer the server
// hears at their address.
class VELTO_EXPORT SettingsWatcher {
  public:
    struct Options {
        // A folder chosen for this run only, in place of the setting; empty follows the setting.
        std::string receivingFolder;
        std::chrono::milliseconds pollInterval{500};
    };
    // A change applied, on the watcher's thread: the setting's name as velto-cli spells it
    // ("receive-mode", "visible", "receive-folder", "trusted", "blocked") and its new value in
    // words; or "problem" and words for the user about the file.
    using Report = std::function<void(const std::string& key, const std::string& value)>;

    // Applies the current settings to server before returning, then follows the file.
    SettingsWatcher(std::shared_ptr<VeltoServer> server, SettingsFile file, Options options,
                    Report report = {});
    ~SettingsWatcher();

    SettingsWatcher(const SettingsWatcher&) = delete;
    SettingsWatcher& operator=(const SettingsWatcher&) = delete;

  private:
    void run();
    void poll();
    void apply(const Settings& settings, bool first);
    void endTimedModeIfDue(const Settings& settings);
    void recordHeardSignatures(const Settings& settings);
    void report(const std::string& key, const std::string& value);

    std::weak_ptr<VeltoServer> server_;
    SettingsFile file_;
    Options options_;
    Report report_;
    Settings applied_;
    ReceivePolicy appliedPolicy_;
    std::string lastProblem_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace velto

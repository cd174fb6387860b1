#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "velto/Export.h"
#include "velto/Settings.h"

namespace velto {

// The settings file, $XDG_CONFIG_HOME/velto/settings.json (~/.config when the variable is
// unset). Every write replaces the whole file at once (a temporary file renamed over it), so a
// reader never sees half of one; changes are read-modify-write under a lock on a file beside
// it, so that the program and velto-cli can change different settings at the same time.
class VELTO_EXPORT SettingsFile {
  public:
    static std::filesystem::path defaultPath();

    explicit SettingsFile(std::filesystem::path path = defaultPath());

    const std::filesystem::path& path() const { return path_; }

    struct Loaded {
        Settings settings;
        // Empty, or words for the user: the file was damaged and was replaced by defaults.
        std::string problem;
    };

    // The current settings; defaults when there is no file yet. A file that is not a JSON
    // object is kept beside as settings.json.damaged and replaced by the defaults.
    Loaded load() const;

    // Applies change to the current settings and writes the result, all under the lock.
    // False with the reason in problem when the file cannot be written (the old one stays);
    // a damaged file found on the way is reported in problem too, and the change still made.
    bool update(const std::function<void(Settings&)>& change, std::string* problem = nullptr) const;

  private:
    std::filesystem::path path_;
};

}  // namespace velto

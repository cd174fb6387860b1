#include "velto/SettingsFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/UniqueFd.h"

namespace velto {
namespace {

namespace fs = std::filesystem;

std::string systemError(const std::string& what, const fs::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

// Holds an exclusive flock on path's ".lock" sibling while it lives. The data file itself is
// replaced by every write, so it cannot carry the lock.
class SettingsLock {
  public:
    explicit SettingsLock(const fs::path& path) {
        const fs::path lockPath = fs::path(path).concat(".lock");
        fd_.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
        if (!fd_) {
            error_ = systemError("Cannot open", lockPath);
            return;
        }
        while (::flock(fd_.get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = systemError("Cannot lock", lockPath);
                return;
            }
        }
    }
    const std::string& error() const { return error_; }

  private:
    UniqueFd fd_;  // closing it releases the lock
    std::string error_;
};

enum class Reading { missing, good, damaged };

struct ReadResult {
    Reading reading = Reading::missing;
    nlohmann::json object;
    std::string reason;
};

ReadResult readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};  // no file yet: the defaults
    }
    std::stringstream text;
    text << in.rdbuf();
    ReadResult result;
    result.object = nlohmann::json::parse(text.str(), nullptr, false);
    if (result.object.is_discarded()) {
        result.reading = Reading::damaged;
        result.reason = "it is not valid JSON";
    } else if (!result.object.is_object()) {
        result.reading = Reading::damaged;
        result.reason = "it does not hold one JSON object";
    } else {
        result.reading = Reading::good;
    }
    return result;
}

// Writes the whole file beside the old one and renames it over, so that readers see either.
bool writeFile(const fs::path& path, const nlohmann::json& object, std::string& problem) {
    std::string temporary = fs::path(path).concat(".XXXXXX").string();
    UniqueFd fd(::mkstemp(temporary.data()));
    if (!fd) {
        problem = systemError("Cannot write settings beside", path);
        return false;
    }
    const std::string text = object.dump(2) + "\n";
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd.get(), text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            problem = systemError("Cannot write", temporary);
            ::unlink(temporary.c_str());
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(fd.get()) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        problem = systemError("Cannot replace", path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::string damagedReport(const fs::path& path, const std::string& reason, const fs::path& kept) {
    return "The settings file " + path.string() + " was damaged (" + reason + "); it was kept as " +
           kept.string() + " and the default settings are used.";
}

// Under the lock: the settings as they are, with a damaged file moved aside and reported.
Settings readLocked(const fs::path& path, std::string& problem) {
    ReadResult read = readFile(path);
    if (read.reading != Reading::damaged) {
        return Settings(read.reading == Reading::good ? read.object : nlohmann::json::object());
    }
    const fs::path kept = fs::path(path).concat(".damaged");
    std::error_code ignored;
    fs::rename(path, kept, ignored);
    problem = damagedReport(path, read.reason, kept);
    return Settings();
}

}  // namespace

fs::path SettingsFile::defaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = fs::path(home != nullptr ? home : "") / ".config";
    }
    return base / "velto" / "settings.json";
}

SettingsFile::SettingsFile(fs::path path) : path_(std::move(path)) {}

SettingsFile::Loaded SettingsFile::load() const {
    // The usual case needs no lock: a reader sees a whole file, the old or the new.
    ReadResult read = readFile(path_);
    if (read.reading != Reading::damaged) {
        return {Settings(read.reading == Reading::good ? read.object : nlohmann::json::object()),
                {}};
    }
    // Looked at again under the lock: another writer may have replaced it meanwhile.
    Loaded loaded;
    update([&](Settings& current) { loaded.settings = current; }, &loaded.problem);
    return loaded;
}

bool SettingsFile::update(const std::function<void(Settings&)>& change,
                          std::string* problem) const {
    std::string report;
    std::error_code error;
    fs::create_directories(path_.parent_path(), error);
    const SettingsLock lock(path_);
    bool written = false;
    if (!lock.error().empty()) {
        report = lock.error();
    } else {
        Settings settings = readLocked(path_, report);
        change(settings);
        std::string failure;
        written = writeFile(path_, settings.json(), failure);
        if (!written) {
            report += (report.empty() ? "" : " ") + failure;
        }
    }
    if (problem != nullptr) {
        *problem = report;
    }
    return written;
}

}  // namespace velto

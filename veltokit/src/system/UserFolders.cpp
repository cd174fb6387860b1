#include "velto/UserFolders.h"

#include <cstdlib>
#include <filesystem>

#include "system/ShellAssignments.h"
#include "system/UserAccount.h"
#include "velto/Diagnostics.h"
#include "velto/PathHelpers.h"

namespace velto {
namespace {

std::optional<std::string> resolvedAgainstHome(const std::string& value, const std::string& home) {
    for (const std::string_view variable : {"$HOME", "${HOME}"}) {
        if (value == variable) {
            return home;
        }
        if (value.starts_with(variable) && value[variable.size()] == '/') {
            return stringByAppendingPathComponent(home, value.substr(variable.size()));
        }
    }
    if (value.starts_with('/')) {
        return stringByAppendingPathComponent(value, "");
    }
    return std::nullopt;
}

}  // namespace

std::string UserFolders::downloadsFolderFor(const std::string& home,
                                            const std::string& configHome) {
    const std::string configFolder =
        configHome.starts_with('/') ? configHome : stringByAppendingPathComponent(home, ".config");
    const auto value = ShellAssignments::valueInFile(
        stringByAppendingPathComponent(configFolder, "user-dirs.dirs"), "XDG_DOWNLOAD_DIR");
    if (value) {
        if (auto folder = resolvedAgainstHome(*value, home)) {
            return *folder;
        }
    }
    return stringByAppendingPathComponent(home, "Downloads");
}

std::string UserFolders::userDownloadsFolder() {
    std::string home = UserAccount::homeFolder();
    if (home.empty()) {
        home = std::filesystem::temp_directory_path().string();
    }
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string folder = downloadsFolderFor(home, configHome != nullptr ? configHome : "");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        diagnostic("cannot create the Downloads folder", folder, error.message());
    }
    return folder;
}

}  // namespace velto

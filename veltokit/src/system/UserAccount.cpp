#include "system/UserAccount.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

namespace velto {
namespace {

struct PasswordEntry {
    std::string name;
    std::string gecos;
    std::string home;
};

std::optional<PasswordEntry> currentEntry() {
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
    passwd entry{};
    passwd* result = nullptr;
    int error = 0;
    while ((error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result)) ==
               ERANGE &&
           buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 2);
    }
    if (error != 0 || result == nullptr) {
        return std::nullopt;
    }
    auto text = [](const char* field) { return field != nullptr ? std::string(field) : ""; };
    return PasswordEntry{text(entry.pw_name), text(entry.pw_gecos), text(entry.pw_dir)};
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

std::string UserAccount::loginName() {
    const auto entry = currentEntry();
    if (entry && !entry->name.empty()) {
        return entry->name;
    }
    return environment("USER");
}

std::string UserAccount::fullName() {
    const auto entry = currentEntry();
    if (entry) {
        const std::string first = entry->gecos.substr(0, entry->gecos.find(','));
        if (!first.empty()) {
            return first;
        }
    }
    return loginName();
}

std::string UserAccount::homeFolder() {
    std::string home = environment("HOME");
    if (home.empty()) {
        if (const auto entry = currentEntry()) {
            home = entry->home;
        }
    }
    return home;
}

}  // namespace velto

#include "velto/FirewallHint.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <system_error>

namespace velto {

namespace {

std::string trimmed(const std::string& text) {
    const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), isSpace);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string unquoted(std::string value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// A script started through its first line has the script's name as its process name, and
// the daemon is one: "firewalld" whichever interpreter runs it.
bool processIsFirewalld(const std::filesystem::path& process) {
    std::ifstream file(process / "comm");
    std::string name;
    std::getline(file, name);
    return name == "firewalld";
}

}  // namespace

std::string FirewallHint::text() const {
    std::string text = "Nobody answered. A firewall may be dropping Velto's datagrams.\n";
    if (command.empty()) {
        return text + "Allow " + ports + " in this computer's firewall.\n";
    }
    return text + firewallName + " is active here; let Velto through with:\n  " + command + "\n";
}

FirewallDetector::FirewallDetector(std::filesystem::path root) : root_(std::move(root)) {}

Firewall FirewallDetector::detect() const {
    if (firewalldRunning()) {
        return Firewall::firewalld;
    }
    if (ufwEnabled()) {
        return Firewall::ufw;
    }
    return Firewall::unknown;
}

FirewallHint FirewallDetector::hintFor(Firewall firewall) {
    FirewallHint hint;
    hint.firewall = firewall;
    switch (firewall) {
        case Firewall::ufw:
            hint.firewallName = "ufw";
            hint.command = "sudo ufw allow Velto";
            break;
        case Firewall::firewalld:
            hint.firewallName = "firewalld";
            hint.command =
                "sudo firewall-cmd --permanent --add-service=velto && sudo firewall-cmd --reload";
            break;
        case Firewall::unknown:
            break;
    }
    return hint;
}

bool FirewallDetector::ufwEnabled() const {
    std::ifstream file(root_ / "etc/ufw/ufw.conf");
    std::string line;
    bool enabled = false;
    while (std::getline(file, line)) {
        line = trimmed(line);
        const auto equals = line.find('=');
        if (line.empty() || line.front() == '#' || equals == std::string::npos) {
            continue;
        }
        if (trimmed(line.substr(0, equals)) == "ENABLED") {
            std::string value = unquoted(trimmed(line.substr(equals + 1)));
            std::transform(value.begin(), value.end(), value.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            enabled = value == "yes";  // the last assignment counts, as in the shell
        }
    }
    return enabled;
}

bool FirewallDetector::firewalldRunning() const {
    std::error_code error;
    // Processes come and go while the folder is read: errors end the search, never throw.
    for (std::filesystem::directory_iterator entry(root_ / "proc", error), end;
         !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.empty() &&
            std::all_of(name.begin(), name.end(),
                        [](unsigned char c) { return std::isdigit(c) != 0; }) &&
            processIsFirewalld(entry->path())) {
            return true;
        }
    }
    return false;
}

}  // namespace velto

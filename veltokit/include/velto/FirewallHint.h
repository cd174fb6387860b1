#pragma once

#include <filesystem>
#include <string>

#include "velto/Export.h"

namespace velto {

// The firewalls whose rules for Velto can be named exactly.
enum class Firewall { unknown, ufw, firewalld };

// What to tell a user who hears nobody: a firewall may be dropping the discovery datagrams.
struct VELTO_EXPORT FirewallHint {
    Firewall firewall = Firewall::unknown;
    // "ufw", "firewalld"; empty when none was recognised.
    std::string firewallName;
    // The command that lets Velto through; empty when no firewall was recognised.
    std::string command;
    // The ports to open by hand when there is no command.
    static constexpr const char* ports = "UDP 4644, TCP 4644 and TCP 4645";

    // Plain lines for a terminal, ending in a newline.
    std::string text() const;
};

// Finds the firewall in force without root: ufw when its configuration says ENABLED=yes,
// firewalld when its daemon runs (its process name in /proc). Everything is read below `root`, "/"
// outside tests. Where /proc hides other users' processes, a running firewalld goes unseen and the
// hint names the ports instead.
class VELTO_EXPORT FirewallDetector {
  public:
    explicit FirewallDetector(std::filesystem::path root = "/");

    Firewall detect() const;
    FirewallHint hint() const { return hintFor(detect()); }

    static FirewallHint hintFor(Firewall firewall);

  private:
    bool ufwEnabled() const;
    bool firewalldRunning() const;

    std::filesystem::path root_;
};

}  // namespace velto

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velto/Export.h"

namespace velto {

// How the user lets transfers in.
enum class ReceiveMode {
    Everyone,       // everything is received
    Ask,            // files and folders from computers not trusted wait for the user's answer
    TrustedOnly,    // trusted computers only; the rest is refused without asking
    Off,            // every incoming transfer is refused
    EveryoneTimed,  // everything, for a while; then the mode before it comes back
};

// The names used in the settings file and on the command line: "everyone", "ask", "trusted",
// "off", "everyone-timed".
VELTO_EXPORT std::string_view receiveModeName(ReceiveMode mode);
VELTO_EXPORT std::optional<ReceiveMode> receiveModeFromName(std::string_view name);

enum class ReceiveDecision { Receive, Ask, Refuse };

// A computer as the user marked it, or as a connection shows it: its IPv4 address in dotted
// form and its signature from its hellos. An empty signature means none is known (a mark made
// before the computer was heard, or a sender that never said hello).
struct ComputerIdentity {
    std::string address;
    std::string signature;

    bool operator==(const ComputerIdentity&) const = default;
};

// Decides, for every incoming connection, whether it is received, asked about or refused.
// Anyone on the network can claim an address and repeat a signature it heard, so the marks
// keep honest people apart; they do not stand against someone set on impersonation.
class VELTO_EXPORT ReceivePolicy {
  public:
    ReceivePolicy() = default;  // everyone, nobody marked
    ReceivePolicy(ReceiveMode mode, std::vector<ComputerIdentity> trusted,
                  std::vector<ComputerIdentity> blocked);

    // EveryoneTimed decides as Everyone: the settings turn it back when its time is up.
    ReceiveMode mode() const { return mode_; }
    const std::vector<ComputerIdentity>& trusted() const { return trusted_; }
    const std::vector<ComputerIdentity>& blocked() const { return blocked_; }

    // Trusted: an entry with the sender's address whose signature is unrecorded or equal.
    bool isTrusted(const ComputerIdentity& sender) const;
    // Blocked: an entry with the sender's address, or with the sender's (known) signature.
    bool isBlocked(const ComputerIdentity& sender) const;

    // Before one byte of a connection is read: Receive (so far) or Refuse.
    ReceiveDecision decideOnConnect(const ComputerIdentity& sender) const;
    // Once the stream's header and its first element's header are known; a text is never
    // asked about.
    ReceiveDecision decideOnContent(const ComputerIdentity& sender, bool isText) const;

  private:
    ReceiveMode mode_ = ReceiveMode::Everyone;
    std::vector<ComputerIdentity> trusted_;
    std::vector<ComputerIdentity> blocked_;
};

}  // namespace velto

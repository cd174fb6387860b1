#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "velto/Export.h"
#include "velto/ReceivePolicy.h"

namespace velto {

// The settings that the program and velto-cli share, as one JSON object. Each setting has a
// typed accessor here; keys this version does not know are kept as they were, so that an
// older and a newer build can share the file. A value of the wrong type reads as the default.
class VELTO_EXPORT Settings {
  public:
    Settings();  // every setting at its default
    explicit Settings(const nlohmann::json& object);
    Settings(const Settings& other);
    Settings& operator=(const Settings& other);
    ~Settings();

    const nlohmann::json& json() const { return *document_; }

    // Addresses the user added by hand ("addedAddresses"): greeted at every start and told
    // goodbye at the end, unicast, for networks that drop broadcasts. In the order added.
    std::vector<std::string> addedAddresses() const;
    // Each returns false when nothing changed (already there, or not there).
    bool addAddress(const std::string& address);
    bool forgetAddress(const std::string& address);

    // How transfers are let in ("receiveMode"), as chosen. Choosing EveryoneTimed records when
    // it ends (everyoneTimedDuration() from now) and the mode to come back then; choosing it
    // again while it runs starts the time anew and keeps that mode.
    ReceiveMode receiveMode() const;
    void setReceiveMode(ReceiveMode mode, std::chrono::system_clock::time_point now =
                                              std::chrono::system_clock::now());
    // While EveryoneTimed is chosen: when it ends, and the mode that comes back then.
    std::optional<std::chrono::system_clock::time_point> everyoneTimedEnd() const;
    ReceiveMode modeAfterEveryoneTimed() const;
    // The mode in force at now: the one chosen, or the one after EveryoneTimed once it ended.
    ReceiveMode receiveModeAt(std::chrono::system_clock::time_point now) const;
    // Ten minutes; VELTO_EVERYONE_TIMED_SECONDS (a whole number from 1) shortens it for tests.
    static std::chrono::seconds everyoneTimedDuration();

    // Computers the user trusts or blocks ("trusted", "blocked"): an address, with the
    // signature of the computer once it was heard. Trusting an address lifts its block and
    // blocking one withdraws its trust. Each returns false when nothing changed.
    std::vector<ComputerIdentity> trusted() const;
    std::vector<ComputerIdentity> blocked() const;
    bool trust(const std::string& address);
    bool untrust(const std::string& address);
    bool block(const std::string& address);
    bool unblock(const std::string& address);
    // Fills in the signature of the entries for heard.address that have none yet.
    bool recordSignature(const ComputerIdentity& heard);

    // The policy in force at now, from the mode and both lists.
    ReceivePolicy policyAt(std::chrono::system_clock::time_point now) const;

    // Whether this host announces itself and answers hellos ("visible"; on by default).
    bool visible() const;
    void setVisible(bool visible);

    // Where received things are stored ("receivingFolder"); empty means the user's Downloads.
    std::string receivingFolder() const;
    void setReceivingFolder(const std::string& folder);

    // A change as velto-cli and the program's settings sheet name it: "receive-mode"
    // (everyone, ask, trusted, off, everyone-timed), "receive-folder" (an existing folder, kept
    // as an absolute path) or "visible" (yes, no). Without apply, error says what is wrong.
    struct NamedChange {
        std::function<void(Settings&)> apply;
        std::string error;
    };
    static NamedChange namedChange(const std::string& key, const std::string& value);

  private:
    void setAddedAddresses(const std::vector<std::string>& addresses);
    std::vector<ComputerIdentity> computers(const char* key) const;
    void setComputers(const char* key, const std::vector<ComputerIdentity>& computers);
    bool addComputer(const char* key, const std::string& address);
    bool removeComputer(const char* key, const std::string& address);

    std::unique_ptr<nlohmann::json> document_;
};

}  // namespace velto

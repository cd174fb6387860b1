#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "velto/Export.h"

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

  private:
    void setAddedAddresses(const std::vector<std::string>& addresses);

    std::unique_ptr<nlohmann::json> document_;
};

}  // namespace velto

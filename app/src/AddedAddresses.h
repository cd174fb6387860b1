#pragma once

#include <string>
#include <vector>

#include "velto/SettingsFile.h"

namespace velto {
class VeltoServer;
}

namespace velto::app {

// The addresses the user added by hand ("Add by address"), for networks that drop
// broadcasts: kept in the settings file shared with velto-cli and handed to the server, which
// greets each at every hello and tells each goodbye. Each call returns words for the user
// when something went wrong (a damaged file, a file that cannot be written), else "".
class AddedAddresses {
  public:
    explicit AddedAddresses(SettingsFile file = SettingsFile()) : file_(std::move(file)) {}

    // Each updates the file, then hands the server the file's whole list.
    std::string add(VeltoServer& server, const std::string& address) const;
    std::string forget(VeltoServer& server, const std::string& address) const;

  private:
    std::string change(VeltoServer& server, const std::string& address, bool adding) const;

    SettingsFile file_;
};

}  // namespace velto::app

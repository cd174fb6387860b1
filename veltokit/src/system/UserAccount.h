#pragma once

#include <string>

namespace velto {

// The account the process runs as, from the password database (read with the re-entrant
// calls, so any thread may ask).
class UserAccount {
  public:
    // The login name; $USER when the database has no entry.
    static std::string loginName();
    // The first comma-separated field of the GECOS entry; the login name when that is empty.
    static std::string fullName();
    // $HOME when set, else the database's home folder; empty when neither is known.
    static std::string homeFolder();
};

}  // namespace velto

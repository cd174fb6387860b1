#pragma once

#include <optional>
#include <string>
#include <vector>

#include "velto/Bytes.h"

namespace velto {

// The local user's picture, as the desktop keeps it.
class UserPicture {
  public:
    // AccountsService's icon for the login, then ~/.face, then ~/.face.icon.
    static std::vector<std::string> candidatePaths(const std::string& login,
                                                   const std::string& home);
    // The first candidate that holds a readable picture, as PNG; files that are missing or
    // not pictures are passed over.
    static std::optional<Bytes> firstAsPng(const std::vector<std::string>& paths);
};

}  // namespace velto

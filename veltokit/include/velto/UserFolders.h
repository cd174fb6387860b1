#pragma once

#include <string>

#include "velto/Export.h"

namespace velto {

// Where received items land.
class VELTO_EXPORT UserFolders {
  public:
    // The user's Downloads folder, created when missing: XDG_DOWNLOAD_DIR from
    // $XDG_CONFIG_HOME/user-dirs.dirs (~/.config when unset or relative), else ~/Downloads.
    // Home is $HOME, else the account's home folder, else the temporary folder.
    static std::string userDownloadsFolder();

    // The same choice for a given home and configuration folder; creates nothing. Values of
    // the form "$HOME/..." or "${HOME}/..." are resolved against `home`; a value that is
    // neither that nor an absolute path is ignored.
    static std::string downloadsFolderFor(const std::string& home, const std::string& configHome);
};

}  // namespace velto

#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velto {

// Reads NAME=value lines as a POSIX shell would assign them, for the small settings files of
// the desktop (/etc/machine-info, user-dirs.dirs). Values may be unquoted (a backslash escapes
// the next character, unquoted white space ends the value), "double-quoted" (a backslash
// escapes $ ` " \ only) or 'single-quoted', and pieces may be concatenated. Variables are not
// expanded: "$HOME/x" comes back as written. Comments, blank lines and an "export " prefix are
// allowed; the last assignment of a name wins; a line with an unterminated quote is ignored.
class ShellAssignments {
  public:
    static std::optional<std::string> valueOf(std::string_view contents, std::string_view name);
    // No value when the file cannot be read or does not assign the name.
    static std::optional<std::string> valueInFile(const std::string& path, std::string_view name);
};

}  // namespace velto

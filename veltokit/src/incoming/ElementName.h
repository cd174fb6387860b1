#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velto {

// Element names come from the network. These checks turn one into a relative path that can
// only lead into the transfer's own folder.
class ElementName {
  public:
    static constexpr std::size_t maxLength = 4096;  // bytes, the system's PATH_MAX

    // The name with empty, "." and ".." components dropped (so a leading "/" or "../" leads
    // nowhere), or nothing with a reason when the name must be refused: not UTF-8, longer than
    // maxLength, or nothing left after cleaning.
    static std::optional<std::string> relativePath(std::string_view name, std::string& reason);
};

}  // namespace velto

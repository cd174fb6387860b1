#pragma once

#include <string>

namespace velto {

// The part after the last "/", a trailing "/" ignored ("/a/b/" gives "b", "/" stays "/").
inline std::string lastPathComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const auto slash = path.rfind('/');
    return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

}  // namespace velto

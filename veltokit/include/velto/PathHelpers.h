#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "velto/Bytes.h"
#include "velto/Export.h"

namespace velto {

// Path and name operations used to turn names that arrive from the network into local paths.
// Paths are plain text with "/" separators; "." and ".." are never resolved here.

// Two lower-case hex digits per byte, no separators (the same text as hexlify).
VELTO_EXPORT std::string hexEncodedString(const Bytes& bytes);

// Joins with one "/" (nothing when `path` is empty), then collapses runs of "/" and drops a
// trailing "/" unless the result is "/". A leading "/" in `component` does not make it absolute.
VELTO_EXPORT std::string stringByAppendingPathComponent(std::string_view path,
                                                        std::string_view component);

// The path without its last component: "/tmp/a" gives "/tmp", "/tmp" and "/" give "/", a bare
// name gives "".
VELTO_EXPORT std::string stringByDeletingLastPathComponent(std::string_view path);

// Folds the components from the left with stringByAppendingPathComponent, starting from "".
VELTO_EXPORT std::string fromPathComponents(const std::vector<std::string>& components);

// The text without any of the nine characters / \ : * < > ? % | (nothing takes their place).
VELTO_EXPORT std::string sanitizedString(std::string_view text);

}  // namespace velto

#pragma once

#include <string_view>

namespace velto {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off sequences.
bool isValidUtf8(std::string_view text);

}  // namespace velto

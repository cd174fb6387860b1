#pragma once

#include <string>
#include <string_view>

namespace velto {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off sequences.
bool isValidUtf8(std::string_view text);

// The text with each byte that starts no valid sequence replaced by U+FFFD, for texts from the
// network that are shown rather than stored.
std::string withValidUtf8(std::string_view text);

// The text with each byte that is not part of a valid sequence written as "%XX" (its value in
// uppercase hexadecimal); valid text comes back unchanged, "%" included.
std::string withInvalidBytesEscaped(std::string_view text);

}  // namespace velto

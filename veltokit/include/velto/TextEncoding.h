#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "velto/Bytes.h"
#include "velto/Export.h"

namespace velto {

// Byte encodings for the text fields of the packing language. Texts inside the program are
// UTF-8 strings; these convert them to and from the bytes of a given encoding.
enum class TextEncoding {
    windows1252,  // the packing language's default; 0x81, 0x8D, 0x8F, 0x90, 0x9D are unassigned
    utf8,
};

VELTO_EXPORT std::string_view encodingName(TextEncoding encoding);

// No value when the text is not valid UTF-8 or holds a character the encoding lacks.
VELTO_EXPORT std::optional<Bytes> encodeText(std::string_view text, TextEncoding encoding);

// No value when the bytes are not valid in the encoding (malformed UTF-8, or an unassigned
// Windows-1252 byte).
VELTO_EXPORT std::optional<std::string> decodeText(std::span<const std::uint8_t> bytes,
                                                   TextEncoding encoding);

}  // namespace velto

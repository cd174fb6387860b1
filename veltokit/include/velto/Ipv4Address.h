#pragma once

#include <string_view>

#include "velto/Export.h"

namespace velto {

// True only for a plain dotted IPv4 address: four decimal parts from 0 to 255, without leading
// zeros, signs or spaces, and nothing else. What people type is checked with this before any
// datagram goes out, so that "10.1.2.012" is refused rather than dropped somewhere below.
VELTO_EXPORT bool isPlainIpv4Address(std::string_view text);

}  // namespace velto

#pragma once

#include <string>

namespace velto {

// `length` characters drawn uniformly from a-z, A-Z and 0-9; empty for a length below 1.
// Safe to call from any thread.
std::string generateRandomStringWithLength(int length);

}  // namespace velto

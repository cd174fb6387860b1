#pragma once

#include <string_view>

namespace velto {

// True in builds where programming errors stop the program (NDEBUG not defined).
#ifdef NDEBUG
inline constexpr bool kProgrammingErrorsAbort = false;
#else
inline constexpr bool kProgrammingErrorsAbort = true;
#endif

// A caller broke a precondition. Builds with assertions print the message to standard error
// and abort; release builds return and the caller carries on with its documented fallback.
void programmingError(std::string_view message);

}  // namespace velto

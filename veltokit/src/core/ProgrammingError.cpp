#include "core/ProgrammingError.h"

#include <cstdio>
#include <cstdlib>

namespace velto {

void programmingError(std::string_view message) {
    if constexpr (kProgrammingErrorsAbort) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
        std::fflush(stderr);
        std::abort();
    }
}

}  // namespace velto

#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <string_view>

#include "velto/Export.h"

namespace velto {

// Plain diagnostic lines (items separated by single spaces, no levels, no time stamps).
// They go to standard output unless the host installs another sink or turns them off.
using DiagnosticSink = std::function<void(std::string_view line)>;

VELTO_EXPORT void setDiagnosticSink(DiagnosticSink sink);  // an empty sink silences the library
VELTO_EXPORT void setDiagnosticsEnabled(bool enabled);
VELTO_EXPORT bool diagnosticsEnabled();
VELTO_EXPORT void emitDiagnosticLine(std::string_view line);

template <typename... Items>
void diagnostic(const Items&... items) {
    if (!diagnosticsEnabled()) {
        return;
    }
    std::ostringstream line;
    bool first = true;
    ((line << (first ? "" : " ") << items, first = false), ...);
    emitDiagnosticLine(line.str());
}

}  // namespace velto

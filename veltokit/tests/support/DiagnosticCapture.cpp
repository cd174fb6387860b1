#include "support/DiagnosticCapture.h"

#include "velto/Diagnostics.h"

namespace velto::test {

DiagnosticCapture::DiagnosticCapture() {
    setDiagnosticSink([this](std::string_view line) {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    });
    setDiagnosticsEnabled(true);
}

DiagnosticCapture::~DiagnosticCapture() {
    setDiagnosticsEnabled(false);
    setDiagnosticSink({});
}

std::vector<std::string> DiagnosticCapture::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

}  // namespace velto::test

#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace velto::test {

// Collects the library's diagnostic lines while it lives; afterwards diagnostics are off again
// (the state the test main sets up).
class DiagnosticCapture {
  public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    std::vector<std::string> lines() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace velto::test

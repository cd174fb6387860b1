#include "velto/Diagnostics.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace velto {
namespace {

std::atomic<bool> enabled{true};

std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

DiagnosticSink& sink() {
    static DiagnosticSink current = [](std::string_view line) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    return current;
}

}  // namespace

void setDiagnosticSink(DiagnosticSink newSink) {
    std::lock_guard lock(sinkMutex());
    sink() = std::move(newSink);
}

void setDiagnosticsEnabled(bool on) {
    enabled.store(on, std::memory_order_relaxed);
}

bool diagnosticsEnabled() {
    return enabled.load(std::memory_order_relaxed);
}

void emitDiagnosticLine(std::string_view line) {
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(line);
    }
}

}  // namespace velto

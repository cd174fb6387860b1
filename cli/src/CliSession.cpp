#include "CliSession.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <future>
#include <string>
#include <thread>

#include "velto/Diagnostics.h"
#include "velto/SettingsFile.h"

namespace velto::cli {
namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGPIPE);
    return set;
}

}  // namespace

void CliSession::blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void CliSession::reportOutputClosed() {
    ::kill(::getpid(), SIGPIPE);
}

CliSession::CliSession(bool verbose) {
    setDiagnosticsEnabled(verbose);
    // One write per line: stderr is unbuffered, and lines from the library's threads must not
    // interleave.
    setDiagnosticSink([](std::string_view line) {
        std::string whole;
        whole.reserve(line.size() + 1);
        whole.append(line).push_back('\n');
        std::fwrite(whole.data(), 1, whole.size(), stderr);
    });
}

CliSession::~CliSession() {
    server_.reset();  // joins the library's threads before the sink goes
}

VeltoServer& CliSession::startServer(const std::function<void(VeltoServer&)>& prepare) {
    server_ = VeltoServer::create();
    // Addresses added with "velto-cli hello" (or in the program) hear every hello and goodbye.
    const auto settings = SettingsFile().load();
    if (!settings.problem.empty()) {
        std::fprintf(stderr, "velto-cli: %s\n", settings.problem.c_str());
    }
    server_->setAddedAddresses(settings.settings.addedAddresses());
    if (prepare) {
        prepare(*server_);
    }
    server_->setPortFailureHandler([](const std::string& message) {
        std::fprintf(stderr, "%s\n", message.c_str());
        std::fflush(nullptr);
        // Other threads are running: leave at once rather than run static destructors.
        std::_Exit(1);
    });
    server_->startServer();
    return *server_;
}

int CliSession::waitForStopSignal(std::optional<std::chrono::milliseconds> duration) {
    const sigset_t set = stopSignals();
    if (!duration) {
        int signal = 0;
        return sigwait(&set, &signal) == 0 ? signal : 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + *duration;
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return 0;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>((left - seconds) / std::chrono::nanoseconds(1))};
        const int signal = sigtimedwait(&set, nullptr, &timeout);
        if (signal > 0) {
            return signal;
        }
        // EAGAIN: time is up (checked above); EINTR: another signal, keep waiting.
    }
}

void CliSession::sayGoodbye() {
    if (server_) {
        server_->sayGoodbye();
        flushDatagrams();
    }
}

bool CliSession::sayGoodbye(std::chrono::steady_clock::time_point deadline) {
    auto said = std::make_shared<std::promise<void>>();
    auto future = said->get_future();
    std::thread([this, said] {
        sayGoodbye();
        said->set_value();
    }).detach();
    return future.wait_until(deadline) == std::future_status::ready;
}

void CliSession::flushDatagrams() {
    if (!server_) {
        return;
    }
    // The socket sends one datagram at a time on the broadcast queue, each next one from the
    // completion of the one before; a round trip through the queue per datagram (two per
    // broadcast or added address at most) lets them all out.
    const std::size_t rounds =
        2 * (server_->findBroadcastAddress().size() + server_->addedAddresses().size()) + 2;
    for (std::size_t i = 0; i < rounds; ++i) {
        server_->broadcastDispatchQueue()->sync([] {});
    }
}

}  // namespace velto::cli

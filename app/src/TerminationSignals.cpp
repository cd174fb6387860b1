#include "TerminationSignals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace velto::app {

namespace {

int wakeFds[2] = {-1, -1};  // [0] read by the notifier, [1] written by the handler

void onSignal(int signalNumber) {
    const auto byte = static_cast<char>(signalNumber);
    // Nothing else is async-signal-safe here; a full pipe just drops a repeated signal.
    [[maybe_unused]] const auto written = ::write(wakeFds[1], &byte, 1);
}

constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0) {
        return;
    }
    notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(wakeFds[0], &byte, 1) == 1) {
            emit received(static_cast<int>(byte));
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : handledSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals() {
    if (notifier_ == nullptr) {
        return;
    }
    for (int signalNumber : handledSignals) {
        std::signal(signalNumber, SIG_DFL);
    }
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

}  // namespace velto::app

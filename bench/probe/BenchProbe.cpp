// velto-bench-probe: the timing ends of the test-LAN benchmark that velto-cli cannot give.
//
//   velto-bench-probe send-text HOST BYTES   sends a text of BYTES bytes to HOST:4644 and prints
//                                            "start", "connected" and "finished" (or "failed")
//                                            with the wall-clock time of each
//   velto-bench-probe announce               starts a server, prints "hello" with the time just
//                                            before its hello goes out, then waits for SIGTERM
//                                            or SIGINT and says goodbye
//
// Times are seconds since the epoch with microseconds, comparable between the test LAN's hosts
// (one machine, one clock).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "velto/Diagnostics.h"
#include "velto/VeltoServer.h"
#include "velto/VeltoTransfer.h"

namespace {

using namespace velto;

void stamp(const char* event) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    std::printf("%s %lld.%06lld\n", event, static_cast<long long>(micros / 1'000'000),
                static_cast<long long>(micros % 1'000'000));
    std::fflush(stdout);
}

class TextReporter : public VeltoTransferDelegate {
  public:
    std::future<bool> outcome() { return promise_.get_future(); }

    void transferWithConnected(VeltoTransfer&) override { stamp("connected"); }
    void transferWithFinished(VeltoTransfer&) override {
        stamp("finished");
        promise_.set_value(true);
    }
    void transferWithFailed(VeltoTransfer&) override {
        stamp("failed");
        promise_.set_value(false);
    }
    void transferWithProgress(VeltoTransfer&, std::uint64_t, std::uint64_t, std::uint64_t,
                              std::uint64_t) override {}

  private:
    std::promise<bool> promise_;
};

int sendText(const std::string& host, std::size_t bytes) {
    stamp("start");
    std::string text(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) {
        text[i] = static_cast<char>('a' + i % 26);
    }
    auto transfer = VeltoTransfer::create(VeltoTransfer::itemsForText(text),
                                          VeltoPeer(host, host, 4644, host, {}),
                                          DispatchQueue::create("outgoing"));
    auto reporter = std::make_shared<TextReporter>();
    auto outcome = reporter->outcome();
    transfer->setDelegate(reporter);
    transfer->start();
    const bool finished = outcome.get();
    // A small transfer's writes are staged and reported done before they reach the kernel;
    // leaving at once could take them along. The times are taken already.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return finished ? 0 : 1;
}

int announce() {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before the server starts its threads

    auto server = VeltoServer::create();
    server->setPortFailureHandler([](const std::string& message) {
        std::fprintf(stderr, "%s\n", message.c_str());
        std::_Exit(1);
    });
    server->startServer();
    stamp("hello");
    server->sayHello();
    int signal = 0;
    sigwait(&stop, &signal);
    server->sayGoodbye();
    for (int i = 0; i < 8; ++i) {
        server->broadcastDispatchQueue()->sync([] {});  // lets the goodbye out
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    setDiagnosticsEnabled(false);
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "send-text" && argc == 4) {
        return sendText(argv[2], std::strtoull(argv[3], nullptr, 10));
    }
    if (command == "announce" && argc == 2) {
        return announce();
    }
    std::fprintf(stderr, "usage: velto-bench-probe send-text HOST BYTES | announce\n");
    return 2;
}

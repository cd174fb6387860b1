// velto-cli hello IP: announce this host to one address, where broadcasts do not reach, and
// remember the address so that later runs greet it too. --forget IP forgets it.
#include <cstdio>
#include <future>

#include "CliCommand.h"
#include "CliSession.h"
#include "PeerChoice.h"
#include "velto/SettingsFile.h"

namespace velto::cli {
namespace {

// Longer than the socket's own time-out for a datagram (5 s), so that it always answers first.
constexpr std::chrono::seconds sendOutcomeLimit{7};
constexpr std::chrono::milliseconds pollInterval{50};

class HelloCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_option("IP", address_, "IPv4 address of the host to greet")->required();
        command.add_flag("--forget", forget_,
                         "Forget an address added earlier; nothing is sent to it");
        command.add_option("--wait", waitSeconds_, "Seconds to wait for the host's answer")
            ->capture_default_str()
            ->check(CLI::Range(0.0, 600.0));
    }

    int run(CliSession& session) override {
        if (!PeerChoice::isAddress(address_)) {
            std::fprintf(stderr, "%s\n", PeerChoice::addressRefusal(address_).c_str());
            return 2;
        }
        return forget_ ? forget() : greet(session);
    }

  private:
    int forget() const {
        bool known = false;
        std::string problem;
        const bool written = SettingsFile().update(
            [&](Settings& settings) { known = settings.forgetAddress(address_); }, &problem);
        if (!problem.empty()) {
            std::fprintf(stderr, "velto-cli: %s\n", problem.c_str());
        }
        if (!written) {
            return 1;
        }
        std::printf(known ? "Forgot %s.\n" : "%s was not among the added addresses.\n",
                    address_.c_str());
        return 0;
    }

    // A one-shot announcement: no goodbye follows, so the peer keeps this host in its table.
    int greet(CliSession& session) const {
        std::string problem;
        const bool remembered = SettingsFile().update(
            [&](Settings& settings) { settings.addAddress(address_); }, &problem);
        if (!problem.empty()) {
            std::fprintf(stderr, "velto-cli: %s\n", problem.c_str());
        }
        VeltoServer& server = session.startServer();
        auto outcome = std::make_shared<std::promise<std::string>>();
        auto sent = outcome->get_future();
        server.announceTo(address_,
                          [outcome](const std::string& error) { outcome->set_value(error); });
        const std::string error = sent.wait_for(sendOutcomeLimit) == std::future_status::ready
                                      ? sent.get()
                                      : std::string("no word from the socket");
        if (!error.empty()) {
            std::fprintf(stderr, "velto-cli: cannot send a hello to %s: %s\n", address_.c_str(),
                         error.c_str());
            return 1;
        }
        const int status = waitForAnswer(session, server, remembered);
        return status != 0 || remembered ? status : 1;
    }

    // 0 when the host answered in time, 1 when it did not, 128 + n after a stop signal.
    int waitForAnswer(CliSession& session, VeltoServer& server, bool remembered) const {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(waitSeconds_));
        for (;;) {
            if (const auto peer = server.peers().find(address_)) {
                std::printf("%s answered: %s\n", address_.c_str(), peer->systemSignature.c_str());
                return 0;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            if (const int signal = session.waitForStopSignal(pollInterval)) {
                return CliSession::statusForSignal(signal);
            }
        }
        std::fprintf(stderr,
                     "velto-cli: no answer from %s within %g seconds: check the address and "
                     "that Velto runs there.%s\n",
                     address_.c_str(), waitSeconds_,
                     remembered ? " It stays added and is greeted at every start." : "");
        return 1;
    }

    std::string address_;
    bool forget_ = false;
    double waitSeconds_ = 3;
};

}  // namespace

VELTO_CLI_COMMAND(HelloCommand, "hello",
                  "Greet one address (unicast) and remember it; --forget forgets it")

}  // namespace velto::cli

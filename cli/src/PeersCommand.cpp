// velto-cli peers: announce, listen, print who answered, say goodbye.
#include <cstdio>

#include "CliCommand.h"
#include "CliSession.h"
#include "PeerListing.h"
#include "velto/FirewallHint.h"
#include "velto/VeltoEvents.h"

namespace velto::cli {
namespace {

// Pictures still on their way when the listening time is up get this much longer.
constexpr std::chrono::seconds avatarGrace{3};

class PeersCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_option("--wait", waitSeconds_, "Seconds to listen before printing")
            ->capture_default_str()
            ->check(CLI::Range(0.0, 86400.0));
        command.add_flag("--json", json_, "Print one JSON object mapping peer keys to peers");
    }

    int run(CliSession& session) override {
        VeltoServer& server = session.startServer();
        server.sayHello();
        const auto listen = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::duration<double>(waitSeconds_));
        const int signal = session.waitForStopSignal(listen);
        if (signal == 0) {
            server.waitForAvatarFetches(avatarGrace);
        }
        const auto peers = server.peers().snapshot();
        const std::string text = json_ ? VeltoEvents::peerDictionaries(peers).dump(2) + "\n"
                                       : PeerListing::toText(peers);
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        if (peers.empty() && signal == 0) {
            std::fputs(FirewallDetector().hint().text().c_str(), stderr);
        }
        session.sayGoodbye();
        return signal == 0 ? 0 : CliSession::statusForSignal(signal);
    }

  private:
    double waitSeconds_ = 2;
    bool json_ = false;
};

}  // namespace

VELTO_CLI_COMMAND(PeersCommand, "peers", "Announce this host, listen, and list the peers heard")

}  // namespace velto::cli

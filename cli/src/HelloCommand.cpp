// velto-cli hello IP: announce this host to one address, where broadcasts do not reach.
#include "CliCommand.h"
#include "CliSession.h"

namespace velto::cli {
namespace {

class HelloCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_option("IP", address_, "IPv4 address of the host to greet")
            ->required()
            ->check(CLI::ValidIPV4);
    }

    // A one-shot announcement: no goodbye follows, so the peer keeps this host in its table.
    int run(CliSession& session) override {
        session.startServer().sayHello(address_);
        session.flushDatagrams();
        return 0;
    }

  private:
    std::string address_;
};

}  // namespace

VELTO_CLI_COMMAND(HelloCommand, "hello", "Send a hello to one address (unicast)")

}  // namespace velto::cli

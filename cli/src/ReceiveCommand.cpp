// velto-cli receive [--json]: a headless receiver that announces itself and reports what it
// receives into the user's Downloads folder until it is stopped.
#include <cstdio>

#include "CliCommand.h"
#include "CliSession.h"
#include "ReceiveEventPrinter.h"
#include "velto/UserFolders.h"
#include "velto/VeltoIncomingTransfer.h"

namespace velto::cli {
namespace {

class ReceiveCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_flag("--json", json_, "Print one JSON object per event and line");
    }

    int run(CliSession& session) override {
        const std::string downloads = UserFolders::userDownloadsFolder();
        VeltoIncomingTransfer::removeLeftoverIntermediateFolders(downloads);
        std::shared_ptr<ReceiveEventPrinter> printer;
        VeltoServer& server = session.startServer([&](VeltoServer& starting) {
            printer = std::make_shared<ReceiveEventPrinter>(starting.peers(), json_);
            starting.setDelegate(printer);
            starting.setIncomingDelegate(printer);
        });
        server.sayHello();
        if (!json_) {
            std::printf("Receiving into %s; Ctrl-C stops.\n", downloads.c_str());
            std::fflush(stdout);
        }
        session.waitForStopSignal(std::nullopt);
        session.sayGoodbye();
        return 0;
    }

  private:
    bool json_ = false;
};

}  // namespace

VELTO_CLI_COMMAND(ReceiveCommand, "receive", "Receive texts, files and folders until stopped")

}  // namespace velto::cli

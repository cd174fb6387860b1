// velto-cli receive [--json] [--ask]: a headless receiver that announces itself and reports what
// it receives into the user's Downloads folder until it is stopped. Its standard input answers
// questions and cancels transfers (TransferQuestions).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "CliCommand.h"
#include "CliSession.h"
#include "ReceiveEventPrinter.h"
#include "TransferQuestions.h"
#include "velto/UserFolders.h"
#include "velto/VeltoIncomingTransfer.h"

namespace velto::cli {
namespace {

// How long a stop may take to end the transfers under way before it counts as failed.
constexpr std::chrono::seconds stopLimit{5};

class ReceiveCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_flag("--json", json_, "Print one JSON object per event and line");
        command.add_flag("--ask", ask_,
                         "Ask before storing files and folders (texts arrive as before); the "
                         "answer is read from standard input");
    }

    int run(CliSession& session) override {
        const std::string downloads = UserFolders::userDownloadsFolder();
        VeltoIncomingTransfer::removeLeftoverIntermediateFolders(downloads);
        std::shared_ptr<ReceiveEventPrinter> printer;
        auto questions = std::make_shared<TransferQuestions>(STDIN_FILENO);
        VeltoServer& server = session.startServer([&](VeltoServer& starting) {
            printer = std::make_shared<ReceiveEventPrinter>(starting.peers(), json_,
                                                            CliSession::reportOutputClosed);
            printer->setQuestions(questions);
            starting.setDelegate(printer);
            starting.setIncomingDelegate(printer);
            if (ask_) {
                starting.setReceivePolicy(ReceivePolicy(ReceiveMode::Ask, {}, {}));
            }
        });
        questions->startReading();
        server.sayHello();
        if (!json_) {
            std::printf("Receiving into %s; Ctrl-C stops.\n", downloads.c_str());
            std::fflush(stdout);
        }
        const int signal = session.waitForStopSignal(std::nullopt);
        // The transfers end first, then the goodbye leaves; a part that hangs (a file system
        // that does not answer, a reader that stopped reading our output) is given up at the
        // limit, the goodbye after a last second.
        const auto deadline = std::chrono::steady_clock::now() + stopLimit;
        const bool ended = server.stopReceiving(deadline);
        const bool saidGoodbye = session.sayGoodbye(
            ended ? deadline : std::chrono::steady_clock::now() + std::chrono::seconds(1));
        if (signal == SIGPIPE) {
            std::fputs("Standard output was closed; stopped receiving.\n", stderr);
        }
        if (!ended || !saidGoodbye) {
            std::fputs(ended ? "The goodbye could not be sent within 5 seconds of the stop.\n"
                             : "Transfers were still being stored 5 seconds after the stop.\n",
                       stderr);
            // Threads of the library are still busy, one perhaps inside a write to standard
            // output that will never return: leave without waiting for them or flushing it.
            std::_Exit(1);
        }
        return signal == SIGPIPE ? 1 : 0;
    }

  private:
    bool json_ = false;
    bool ask_ = false;
};

}  // namespace

VELTO_CLI_COMMAND(ReceiveCommand, "receive", "Receive texts, files and folders until stopped")

}  // namespace velto::cli

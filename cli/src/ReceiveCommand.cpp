// velto-cli receive [--json] [--dir PATH]: a headless receiver that announces itself and
// reports what it receives into the receiving folder (the setting, else the user's Downloads)
// until it is stopped. It follows changes of the settings file while it runs; its standard input
// answers questions and cancels transfers (TransferQuestions).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "CliCommand.h"
#include "CliSession.h"
#include "ReceiveEventPrinter.h"
#include "TransferQuestions.h"
#include "velto/SettingsWatcher.h"
#include "velto/UserFolders.h"
#include "velto/VeltoEvents.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoServer.h"

namespace velto::cli {
namespace {

// How long a stop may take to end the transfers under way before it counts as failed.
constexpr std::chrono::seconds stopLimit{5};

class ReceiveCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_flag("--json", json_, "Print one JSON object per event and line");
        command.add_option("--dir", folder_,
                           "Store what arrives in this folder, in place of the receive-folder "
                           "setting (default: Downloads)");
    }

    int run(CliSession& session) override {
        if (!folder_.empty()) {
            std::error_code error;
            if (!std::filesystem::is_directory(folder_, error)) {
                std::fprintf(stderr, "velto-cli: %s is not a folder.\n", folder_.c_str());
                return 2;
            }
            folder_ = std::filesystem::absolute(folder_, error).lexically_normal().string();
        }
        // The printer lives as long as the events, which the server's queues may still use
        // after this returns.
        auto printer = std::make_shared<ReceiveEventPrinter>(json_, CliSession::reportOutputClosed);
        std::unique_ptr<SettingsWatcher> watcher;
        std::shared_ptr<TransferQuestions> questions;
        VeltoServer& server = session.startServer([&](VeltoServer& starting) {
            questions = std::make_shared<TransferQuestions>(
                STDIN_FILENO,
                [server = starting.weak_from_this()](const std::string& key) {
                    const auto running = server.lock();
                    return running ? running->incomingTransfer(key) : nullptr;
                },
                starting.incomingDispatchQueue());
            printer->setQuestions(questions);
            auto events = std::make_shared<VeltoEvents>(
                [server = starting.weak_from_this()] { return server.lock(); },
                [printer](const VeltoEvent& event) { printer->print(event); });
            starting.setDelegate(events);
            starting.setIncomingDelegate(events);
            // The settings are in force before the first connection can come in.
            watcher = std::make_unique<SettingsWatcher>(
                starting.shared_from_this(), SettingsFile(), SettingsWatcher::Options{folder_},
                [events](const std::string& key, const std::string& value) {
                    events->settingApplied(key, value);
                });
        });
        const std::string folder = server.receivingFolder().empty()
                                       ? UserFolders::userDownloadsFolder()
                                       : server.receivingFolder();
        VeltoIncomingTransfer::removeLeftoverIntermediateFolders(folder);
        questions->startReading();
        server.sayHello();
        if (!json_) {
            std::printf("Receiving into %s (%s); Ctrl-C stops.\n", folder.c_str(),
                        std::string(receiveModeName(server.receivePolicy().mode())).c_str());
            std::fflush(stdout);
        }
        const int signal = session.waitForStopSignal(std::nullopt);
        watcher.reset();
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
    std::string folder_;
};

}  // namespace

VELTO_CLI_COMMAND(ReceiveCommand, "receive", "Receive texts, files and folders until stopped")

}  // namespace velto::cli

// velto-cli: Velto from a terminal. The subcommands are gathered from CommandRegistry.
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "CliCommand.h"
#include "CliSession.h"

int main(int argc, char** argv) {
    using velto::cli::CliSession;
    // Before anything starts a thread, so that no thread takes Ctrl-C but the one that waits.
    CliSession::blockStopSignals();

    CLI::App app{"Velto from a terminal: find peers, send and receive, choose what is received"};
    app.name("velto-cli");
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "Show the library's diagnostic lines on stderr");
    app.require_subcommand(1);

    std::vector<std::pair<CLI::App*, std::unique_ptr<velto::cli::CliCommand>>> commands;
    for (const auto& entry : velto::cli::CommandRegistry::all()) {
        CLI::App* sub = app.add_subcommand(entry.name, entry.description);
        auto command = entry.make();
        command->configure(*sub);
        commands.emplace_back(sub, std::move(command));
    }

    CLI11_PARSE(app, argc, argv);

    CliSession session(verbose);
    for (auto& [sub, command] : commands) {
        if (sub->parsed()) {
            return command->run(session);
        }
    }
    return 1;
}

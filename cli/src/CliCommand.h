#pragma once

#include <CLI/App.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velto::cli {

class CliSession;

// One subcommand of velto-cli. Each lives in a source file of its own and registers itself
// with VELTO_CLI_COMMAND, so adding a command touches no other file.
class CliCommand {
  public:
    virtual ~CliCommand() = default;
    // Declares the command's arguments and options on its subcommand.
    virtual void configure(CLI::App& command) = 0;
    // Runs after a successful parse; returns the process's exit status.
    virtual int run(CliSession& session) = 0;
};

class CommandRegistry {
  public:
    struct Entry {
        std::string name;
        std::string description;
        std::function<std::unique_ptr<CliCommand>()> make;
    };

    static bool add(Entry entry);
    // In name order, so that the help lists them alike on every build.
    static std::vector<Entry> all();
};

}  // namespace velto::cli

#define VELTO_CLI_COMMAND(Type, name, description)                                     \
    namespace {                                                                        \
    [[maybe_unused]] const bool registered##Type = ::velto::cli::CommandRegistry::add( \
        {name, description, [] { return std::make_unique<Type>(); }});                 \
    }

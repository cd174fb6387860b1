// velto-cli trust|untrust|block|unblock IP: the computers the receiving modes treat apart. A
// running receiver records a computer's signature with its entry when it next hears it.
#include <cstdio>

#include "CliCommand.h"
#include "PeerChoice.h"
#include "velto/SettingsFile.h"

namespace velto::cli {
namespace {

struct Mark {
    bool (Settings::*change)(const std::string&);
    const char* done;       // printf format with the address
    const char* unchanged;  // the same, when there was nothing to do
};

template <const Mark& mark>
class ComputerMarkCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.add_option("IP", address_, "IPv4 address of the computer")->required();
    }

    int run(CliSession& /*session*/) override {
        if (!PeerChoice::isAddress(address_)) {
            std::fprintf(stderr, "%s\n", PeerChoice::addressRefusal(address_).c_str());
            return 2;
        }
        bool changed = false;
        std::string problem;
        const bool written = SettingsFile().update(
            [&](Settings& settings) { changed = (settings.*mark.change)(address_); }, &problem);
        if (!problem.empty()) {
            std::fprintf(stderr, "velto-cli: %s\n", problem.c_str());
        }
        if (!written) {
            return 1;
        }
        std::printf(changed ? mark.done : mark.unchanged, address_.c_str());
        std::printf("\n");
        return 0;
    }

  private:
    std::string address_;
};

constexpr Mark trustMark{&Settings::trust, "Trusted %s.", "%s was already trusted."};
constexpr Mark untrustMark{&Settings::untrust, "%s is no longer trusted.", "%s was not trusted."};
constexpr Mark blockMark{&Settings::block, "Blocked %s.", "%s was already blocked."};
constexpr Mark unblockMark{&Settings::unblock, "%s is no longer blocked.", "%s was not blocked."};

using TrustCommand = ComputerMarkCommand<trustMark>;
using UntrustCommand = ComputerMarkCommand<untrustMark>;
using BlockCommand = ComputerMarkCommand<blockMark>;
using UnblockCommand = ComputerMarkCommand<unblockMark>;

}  // namespace

VELTO_CLI_COMMAND(TrustCommand, "trust", "Receive from this computer in the ask and trusted modes")
VELTO_CLI_COMMAND(UntrustCommand, "untrust", "Take a computer off the trusted list")
VELTO_CLI_COMMAND(BlockCommand, "block", "Hide this computer and refuse all it sends")
VELTO_CLI_COMMAND(UnblockCommand, "unblock", "Take a computer off the blocked list")

}  // namespace velto::cli

// velto-cli config get [KEY] | config set KEY VALUE: shows and changes the settings that the
// program and velto-cli share. A running receiver applies a change within a second.
// The whole of CLI11: subcommands of a subcommand need its configuration classes too.
#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>

#include "CliCommand.h"
#include "velto/SettingsFile.h"
#include "velto/UserFolders.h"

namespace velto::cli {
namespace {

constexpr const char* modeKey = "receive-mode";
constexpr const char* folderKey = "receive-folder";
constexpr const char* visibleKey = "visible";
constexpr const char* trustedKey = "trusted";
constexpr const char* blockedKey = "blocked";
constexpr const char* addedKey = "added-addresses";

std::string modeInWords(const Settings& settings) {
    const auto now = std::chrono::system_clock::now();
    const ReceiveMode mode = settings.receiveModeAt(now);
    std::string words(receiveModeName(mode));
    if (mode == ReceiveMode::EveryoneTimed) {
        const auto left =
            std::chrono::duration_cast<std::chrono::seconds>(*settings.everyoneTimedEnd() - now);
        words += " (" + std::to_string(left.count()) + " s left, then " +
                 std::string(receiveModeName(settings.modeAfterEveryoneTimed())) + ")";
    }
    return words;
}

std::string folderOf(const Settings& settings) {
    const std::string folder = settings.receivingFolder();
    return folder.empty() ? UserFolders::userDownloadsFolder() : folder;
}

// One line per computer: the address, then the signature once it was heard.
void printComputers(const char* label, const std::vector<ComputerIdentity>& computers) {
    if (computers.empty() && label != nullptr) {
        std::printf("%s: none\n", label);
    }
    for (const auto& computer : computers) {
        const std::string signature =
            computer.signature.empty() ? "(not heard yet)" : computer.signature;
        if (label != nullptr) {
            std::printf("%s: %s %s\n", label, computer.address.c_str(), signature.c_str());
        } else {
            std::printf("%s %s\n", computer.address.c_str(), signature.c_str());
        }
    }
}

std::string keysInWords() {
    return std::string("the settings are ") + modeKey + ", " + folderKey + ", " + visibleKey +
           ", " + trustedKey + ", " + blockedKey + " and " + addedKey;
}

class ConfigCommand : public CliCommand {
  public:
    void configure(CLI::App& command) override {
        command.require_subcommand(1);
        get_ = command.add_subcommand("get", "Show every setting, or the one named");
        get_->add_option("KEY", key_, "receive-mode, receive-folder, visible, trusted, blocked");
        set_ = command.add_subcommand("set", "Change a setting");
        set_->add_option("KEY", key_, "receive-mode, receive-folder or visible")->required();
        set_->add_option("VALUE", value_,
                         "receive-mode: everyone, ask, trusted, off or everyone-timed; "
                         "receive-folder: a folder; visible: yes or no")
            ->required();
    }

    int run(CliSession& /*session*/) override { return get_->parsed() ? get() : set(); }

  private:
    int get() const {
        const auto loaded = SettingsFile().load();
        if (!loaded.problem.empty()) {
            std::fprintf(stderr, "velto-cli: %s\n", loaded.problem.c_str());
        }
        const Settings& settings = loaded.settings;
        if (key_.empty()) {
            std::printf("%s: %s\n%s: %s\n%s: %s\n", modeKey, modeInWords(settings).c_str(),
                        folderKey, folderOf(settings).c_str(), visibleKey,
                        settings.visible() ? "yes" : "no");
            printComputers(trustedKey, settings.trusted());
            printComputers(blockedKey, settings.blocked());
            std::string added;
            for (const auto& address : settings.addedAddresses()) {
                added += (added.empty() ? "" : " ") + address;
            }
            std::printf("%s: %s\n", addedKey, added.empty() ? "none" : added.c_str());
        } else if (key_ == modeKey) {
            std::printf("%s\n", std::string(receiveModeName(settings.receiveModeAt(
                                                std::chrono::system_clock::now())))
                                    .c_str());
        } else if (key_ == folderKey) {
            std::printf("%s\n", folderOf(settings).c_str());
        } else if (key_ == visibleKey) {
            std::printf("%s\n", settings.visible() ? "yes" : "no");
        } else if (key_ == trustedKey || key_ == blockedKey) {
            printComputers(nullptr, key_ == trustedKey ? settings.trusted() : settings.blocked());
        } else if (key_ == addedKey) {
            for (const auto& address : settings.addedAddresses()) {
                std::printf("%s\n", address.c_str());
            }
        } else {
            std::fprintf(stderr, "velto-cli: there is no setting named \"%s\"; %s.\n", key_.c_str(),
                         keysInWords().c_str());
            return 2;
        }
        return 0;
    }

    int set() {
        const auto change = Settings::namedChange(key_, value_);
        if (!change.apply) {
            std::fprintf(stderr, "velto-cli: %s.\n", change.error.c_str());
            return 2;
        }
        Settings result;
        std::string problem;
        const bool written = SettingsFile().update(
            [&](Settings& settings) {
                change.apply(settings);
                result = settings;
            },
            &problem);
        if (!problem.empty()) {
            std::fprintf(stderr, "velto-cli: %s\n", problem.c_str());
        }
        if (!written) {
            return 1;
        }
        if (key_ == modeKey) {
            std::printf("%s: %s\n", modeKey, modeInWords(result).c_str());
        } else if (key_ == folderKey) {
            std::printf("%s: %s\n", folderKey, folderOf(result).c_str());
        } else {
            std::printf("%s: %s\n", visibleKey, result.visible() ? "yes" : "no");
        }
        return 0;
    }

    CLI::App* get_ = nullptr;
    CLI::App* set_ = nullptr;
    std::string key_;
    std::string value_;
};

}  // namespace

VELTO_CLI_COMMAND(ConfigCommand, "config",
                  "Show (get [KEY]) or change (set KEY VALUE) the shared settings")

}  // namespace velto::cli

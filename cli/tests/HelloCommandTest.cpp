// velto-cli itself, run as a program in this test's private network namespace (only loopback),
// with a settings folder of its own: refusals, exit statuses and the remembered addresses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "velto/SettingsFile.h"

namespace velto::cli {
namespace {

struct CliRun {
    int status;
    std::string output;  // stdout and stderr together
};

class VeltoCli : public testing::Test {
  protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", config.c_str(), 1); }
    void TearDown() override { std::filesystem::remove_all(config); }

    static CliRun run(const std::string& arguments) {
        const std::string command = std::string(VELTO_CLI) + " " + arguments + " 2>&1";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        CliRun result{-1, {}};
        char buffer[512];
        for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            result.output.append(buffer, count);
        }
        const int status = ::pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }
    static std::vector<std::string> remembered() {
        return SettingsFile().load().settings.addedAddresses();
    }

    std::string config = testing::TempDir() + "velto-cli-config-" +
                         testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(VeltoCli, RefusesWhatIsNotAPlainAddressWithStatusTwoAndSendsNothing) {
    for (const std::string arguments :
         {"hello 10.1.2.012", "hello 10.1.2", "hello 256.1.1.1", "hello --forget 010.1.2.3",
          "send 10.1.2.012 --text hi", "send 1.2.3.4.5 --text hi", "trust 10.1.2.012",
          "block 1.2.3"}) {
        const CliRun refused = run(arguments);
        EXPECT_EQ(refused.status, 2) << arguments;
        EXPECT_NE(refused.output.find("is not an IPv4 address"), std::string::npos)
            << arguments << ": " << refused.output;
    }
    EXPECT_TRUE(remembered().empty());
    EXPECT_TRUE(SettingsFile().load().settings.blocked().empty());
}

TEST_F(VeltoCli, ConfigRefusesUnknownKeysAndValuesAndShowsWhatItSet) {
    for (const auto& [arguments, words] : std::vector<std::pair<std::string, std::string>>{
             {"config set receive-mode sometimes", "receive-mode is everyone, ask, trusted"},
             {"config set visible maybe", "visible is yes or no"},
             {"config set receive-folder /no/such/folder", "must be an existing folder"},
             {"config set trusted 10.0.0.1", "cannot be set"},
             {"config get colour", "no setting named"}}) {
        const CliRun refused = run(arguments);
        EXPECT_EQ(refused.status, 2) << arguments;
        EXPECT_NE(refused.output.find(words), std::string::npos) << refused.output;
    }
    EXPECT_FALSE(std::filesystem::exists(SettingsFile::defaultPath()));
    EXPECT_EQ(run("config set receive-mode trusted").status, 0);
    EXPECT_EQ(run("block 10.0.0.7").status, 0);
    EXPECT_EQ(run("config get receive-mode").output, "trusted\n");
    const CliRun all = run("config get");
    EXPECT_NE(all.output.find("blocked: 10.0.0.7 (not heard yet)\n"), std::string::npos)
        << all.output;
}

TEST_F(VeltoCli, HelloRemembersTheAddressReportsAFailedSendAndForgetsOnRequest) {
    // No route to this address here: the hello cannot go out.
    const CliRun unreachable = run("hello 10.1.2.3");
    EXPECT_EQ(unreachable.status, 1) << unreachable.output;
    EXPECT_NE(unreachable.output.find("cannot send a hello to 10.1.2.3"), std::string::npos)
        << unreachable.output;

    // Our own announcement to loopback is answered by ourselves.
    const CliRun answered = run("hello 127.0.0.1 --wait 5");
    EXPECT_EQ(answered.status, 0) << answered.output;
    EXPECT_NE(answered.output.find("127.0.0.1 answered"), std::string::npos) << answered.output;
    EXPECT_EQ(remembered(), (std::vector<std::string>{"10.1.2.3", "127.0.0.1"}));

    const CliRun forgotten = run("hello --forget 10.1.2.3");
    EXPECT_EQ(forgotten.status, 0) << forgotten.output;
    EXPECT_EQ(remembered(), std::vector<std::string>{"127.0.0.1"});
}

}  // namespace
}  // namespace velto::cli

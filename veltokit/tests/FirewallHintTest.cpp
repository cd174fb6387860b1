#include <gtest/gtest.h>

#include <fstream>

#include "support/TempDir.h"
#include "velto/FirewallHint.h"

namespace velto {
namespace {

class FirewallHintTest : public testing::Test {
  protected:
    void write(const std::filesystem::path& relative, const std::string& contents) {
        const auto path = root_.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    }
    void runProcess(const std::string& pid, const std::string& name) {
        write("proc/" + pid + "/comm", name + "\n");
    }
    FirewallHint hint() const { return FirewallDetector(root_.path()).hint(); }

    test::TempDir root_;
};

TEST_F(FirewallHintTest, EnabledUfwIsRecognisedByItsConfiguration) {
    const std::vector<std::pair<std::string, Firewall>> cases = {
        {"# ufw.conf\nENABLED=yes\nLOGLEVEL=low\n", Firewall::ufw},
        {"  ENABLED = \"YES\"  \n", Firewall::ufw},
        {"ENABLED=no\n", Firewall::unknown},
        {"#ENABLED=yes\nENABLED=no\n", Firewall::unknown},
        {"ENABLED=yes\nENABLED=no\n", Firewall::unknown},
        {"ENABLED_OTHER=yes\n", Firewall::unknown},
    };
    for (const auto& [conf, expected] : cases) {
        write("etc/ufw/ufw.conf", conf);
        EXPECT_EQ(FirewallDetector(root_.path()).detect(), expected) << conf;
    }
    write("etc/ufw/ufw.conf", "ENABLED=yes\n");
    EXPECT_EQ(hint().command, "sudo ufw allow Velto");
    EXPECT_EQ(hint().text(),
              "Nobody answered. A firewall may be dropping Velto's datagrams.\n"
              "ufw is active here; let Velto through with:\n  sudo ufw allow Velto\n");
}

TEST_F(FirewallHintTest, RunningFirewalldIsRecognisedAmongTheProcesses) {
    runProcess("1", "systemd");
    runProcess("77", "firewalld-help");
    write("proc/self/comm", "firewalld\n");  // not a process of its own
    EXPECT_EQ(hint().firewall, Firewall::unknown);

    runProcess("512", "firewalld");
    write("etc/ufw/ufw.conf", "ENABLED=yes\n");  // firewalld is the one in force
    EXPECT_EQ(hint().firewall, Firewall::firewalld);
    EXPECT_EQ(hint().command,
              "sudo firewall-cmd --permanent --add-service=velto && sudo firewall-cmd --reload");
}

TEST_F(FirewallHintTest, WithoutAKnownFirewallTheHintNamesThePorts) {
    EXPECT_EQ(FirewallDetector(root_.path() / "missing").detect(), Firewall::unknown);
    const FirewallHint generic = hint();
    EXPECT_TRUE(generic.command.empty());
    EXPECT_NE(generic.text().find("Allow UDP 4644, TCP 4644 and TCP 4645"), std::string::npos)
        << generic.text();
}

}  // namespace
}  // namespace velto

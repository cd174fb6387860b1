#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <fstream>

#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "system/UserAccount.h"
#include "velto/UserFolders.h"

namespace velto {
namespace {

class UserFoldersTest : public testing::Test {
  protected:
    void writeUserDirs(const std::filesystem::path& configFolder, const std::string& line) {
        std::filesystem::create_directories(configFolder);
        std::ofstream(configFolder / "user-dirs.dirs")
            << "# written by the desktop\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
            << line << "\n";
    }

    test::TempDir home_;
    std::string h_ = home_.str();
};

TEST_F(UserFoldersTest, FollowsTheDesktopsDownloadSetting) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"XDG_DOWNLOAD_DIR=\"$HOME/Transfers\"", h_ + "/Transfers"},
        {"XDG_DOWNLOAD_DIR=\"${HOME}/a b/\"", h_ + "/a b"},
        {"XDG_DOWNLOAD_DIR=\"$HOME\"", h_},
        {"XDG_DOWNLOAD_DIR=\"/srv/incoming/\"", "/srv/incoming"},
        {"XDG_DOWNLOAD_DIR=\"relative/dl\"", h_ + "/Downloads"},
        {"XDG_DOWNLOAD_DIR=\"$HOMEWORK/dl\"", h_ + "/Downloads"},
        {"XDG_MUSIC_DIR=\"$HOME/Music\"", h_ + "/Downloads"},
    };
    for (const auto& [line, expected] : cases) {
        writeUserDirs(home_.path() / ".config", line);
        EXPECT_EQ(UserFolders::downloadsFolderFor(h_, ""), expected) << line;
    }

    // A configuration folder of its own wins over ~/.config; a relative one does not.
    writeUserDirs(home_.path() / "cfg", "XDG_DOWNLOAD_DIR=\"$HOME/FromCfg\"");
    writeUserDirs(home_.path() / ".config", "XDG_DOWNLOAD_DIR=\"$HOME/FromDot\"");
    EXPECT_EQ(UserFolders::downloadsFolderFor(h_, h_ + "/cfg"), h_ + "/FromCfg");
    EXPECT_EQ(UserFolders::downloadsFolderFor(h_, "cfg"), h_ + "/FromDot");
}

TEST_F(UserFoldersTest, CreatesTheFolderInTheEnvironmentsHome) {
    test::ScopedEnvironment environment;
    environment.set("HOME", h_);
    environment.unset("XDG_CONFIG_HOME");
    EXPECT_EQ(UserFolders::userDownloadsFolder(), h_ + "/Downloads");
    EXPECT_TRUE(std::filesystem::is_directory(home_.path() / "Downloads"));

    environment.set("XDG_CONFIG_HOME", h_ + "/cfg");
    writeUserDirs(home_.path() / "cfg", "XDG_DOWNLOAD_DIR=\"$HOME/In/Box\"");
    EXPECT_EQ(UserFolders::userDownloadsFolder(), h_ + "/In/Box");
    EXPECT_TRUE(std::filesystem::is_directory(home_.path() / "In" / "Box"));
}

TEST_F(UserFoldersTest, HomeFallsBackToTheAccount) {
    test::ScopedEnvironment environment;
    environment.set("HOME", h_);
    EXPECT_EQ(UserAccount::homeFolder(), h_);
    environment.unset("HOME");
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(UserAccount::homeFolder(), entry->pw_dir);
}

}  // namespace
}  // namespace velto

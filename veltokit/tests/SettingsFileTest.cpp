#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "velto/SettingsFile.h"

namespace velto {
namespace {

namespace fs = std::filesystem;

class SettingsFileTest : public testing::Test {
  protected:
    void write(const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    std::string read(const fs::path& which) const {
        std::ifstream in(which);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    nlohmann::json stored() const { return nlohmann::json::parse(read(path)); }

    test::TempDir dir;
    fs::path path = dir.path() / "velto" / "settings.json";
    SettingsFile file{path};
};

TEST_F(SettingsFileTest, LivesUnderTheConfigFolderOfTheEnvironment) {
    test::ScopedEnvironment environment;
    environment.set("HOME", "/home/ann");
    environment.set("XDG_CONFIG_HOME", "/tmp/config");
    EXPECT_EQ(SettingsFile::defaultPath(), "/tmp/config/velto/settings.json");
    environment.unset("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsFile::defaultPath(), "/home/ann/.config/velto/settings.json");
}

TEST_F(SettingsFileTest, DamagedFileIsReportedKeptAsideAndReplacedByDefaults) {
    EXPECT_TRUE(file.load().problem.empty());  // no file yet: defaults, nothing to report
    for (const std::string damaged : {"{\"addedAddresses\": [\"10.0.0.1\"", "[\"10.0.0.1\"]"}) {
        write(damaged);
        const auto loaded = file.load();
        EXPECT_NE(loaded.problem.find(path.string()), std::string::npos) << loaded.problem;
        EXPECT_TRUE(loaded.settings.addedAddresses().empty());
        EXPECT_EQ(stored(), nlohmann::json::object());
        EXPECT_EQ(read(fs::path(path).concat(".damaged")), damaged);
        EXPECT_TRUE(file.load().problem.empty());  // reported once
    }
}

TEST_F(SettingsFileTest, ChangesKeepKeysTheyDoNotKnowAndPassOverBadEntries) {
    write(
        R"({"receiveMode": {"from": "everyone"}, "addedAddresses": ["10.0.0.1", 5, "10.1.2.012"]})");
    std::string problem;
    ASSERT_TRUE(file.update(
        [](Settings& settings) {
            EXPECT_TRUE(settings.addAddress("10.0.0.2"));
            EXPECT_FALSE(settings.addAddress("10.0.0.1"));
        },
        &problem))
        << problem;
    EXPECT_EQ(stored(), nlohmann::json::parse(R"({"receiveMode": {"from": "everyone"},
                                                  "addedAddresses": ["10.0.0.1", "10.0.0.2"]})"));
    ASSERT_TRUE(file.update([](Settings& settings) {
        EXPECT_TRUE(settings.forgetAddress("10.0.0.1"));
        EXPECT_FALSE(settings.forgetAddress("10.0.0.9"));
    }));
    EXPECT_EQ(file.load().settings.addedAddresses(), std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(stored()["receiveMode"]["from"], "everyone");
}

TEST_F(SettingsFileTest, WritesReplaceTheWholeFileAndConcurrentChangesAllLand) {
    ASSERT_TRUE(file.update([](Settings& settings) { settings.addAddress("10.0.1.0"); }));
    const std::string first = read(path);
    std::ifstream opened(path);  // the file as it was: a rename leaves it whole

    // Readers never see half a file; writers, each reading what the others wrote, lose nothing.
    std::atomic<bool> writing{true};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (writing) {
            const auto loaded = file.load();
            torn += loaded.problem.empty() ? 0 : 1;
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 1; i <= 25; ++i) {
                const std::string address = "10.0." + std::to_string(w) + "." + std::to_string(i);
                SettingsFile(path).update([&](Settings& s) { s.addAddress(address); });
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    writing = false;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(file.load().settings.addedAddresses().size(), 101u);

    std::stringstream old;
    old << opened.rdbuf();
    EXPECT_EQ(old.str(), first);  // a new file was renamed into place; the old was not rewritten
    std::vector<std::string> leftovers;
    for (const auto& entry : fs::directory_iterator(path.parent_path())) {
        leftovers.push_back(entry.path().filename().string());
    }
    std::sort(leftovers.begin(), leftovers.end());
    EXPECT_EQ(leftovers, (std::vector<std::string>{"settings.json", "settings.json.lock"}));
}

}  // namespace
}  // namespace velto

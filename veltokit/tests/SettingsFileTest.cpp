#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "support/DiscoveryFakes.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "velto/SettingsFile.h"
#include "velto/SettingsWatcher.h"

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
    write(R"({"sharing": {"from": "everyone"}, "addedAddresses": ["10.0.0.1", 5, "10.1.2.012"]})");
    std::string problem;
    ASSERT_TRUE(file.update(
        [](Settings& settings) {
            EXPECT_TRUE(settings.addAddress("10.0.0.2"));
            EXPECT_FALSE(settings.addAddress("10.0.0.1"));
        },
        &problem))
        << problem;
    EXPECT_EQ(stored(), nlohmann::json::parse(R"({"sharing": {"from": "everyone"},
                                                  "addedAddresses": ["10.0.0.1", "10.0.0.2"]})"));
    ASSERT_TRUE(file.update([](Settings& settings) {
        EXPECT_TRUE(settings.forgetAddress("10.0.0.1"));
        EXPECT_FALSE(settings.forgetAddress("10.0.0.9"));
    }));
    EXPECT_EQ(file.load().settings.addedAddresses(), std::vector<std::string>{"10.0.0.2"});
    EXPECT_EQ(stored()["sharing"]["from"], "everyone");
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
                SettingsFile(path).update(
                    [&](Settings& s) { w % 2 == 0 ? s.addAddress(address) : s.trust(address); });
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    writing = false;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(file.load().settings.addedAddresses().size(), 51u);
    EXPECT_EQ(file.load().settings.trusted().size(), 50u);

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

TEST_F(SettingsFileTest, AFileThatCannotBeWrittenIsReportedAndChangesNothing) {
    write("{}");
    const fs::path blocked = dir.path() / "file";
    std::ofstream(blocked) << "not a folder";
    std::string problem;
    EXPECT_FALSE(SettingsFile(blocked / "settings.json")
                     .update([](Settings& settings) { settings.block("10.0.0.1"); }, &problem));
    EXPECT_NE(problem.find(blocked.string()), std::string::npos) << problem;
    fs::permissions(path.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(path.parent_path().c_str(), W_OK) != 0) {  // root writes anyway
        EXPECT_FALSE(file.update([](Settings& settings) { settings.setVisible(false); }, &problem));
        EXPECT_FALSE(problem.empty());
        EXPECT_EQ(stored(), nlohmann::json::object());
    }
    fs::permissions(path.parent_path(), fs::perms::owner_all);
}

// The mode, the marked computers, the visibility and the folder, as the file keeps them, and
// what a hand-edited value of the wrong kind reads as.
TEST_F(SettingsFileTest, ReceivingSettingsAndTheTimedModeThatTurnsBackByItself) {
    write(R"({"receiveMode": 3, "visible": "no", "trusted": [{"address": "10.0.0.1"}, "x",
              {"address": "10.0.0.01"}], "receivingFolder": ["/x"]})");
    Settings settings = file.load().settings;
    EXPECT_EQ(settings.receiveMode(), ReceiveMode::Everyone);
    EXPECT_TRUE(settings.visible());
    EXPECT_EQ(settings.receivingFolder(), "");
    EXPECT_EQ(settings.trusted(), (std::vector<ComputerIdentity>{{"10.0.0.1", ""}}));

    EXPECT_TRUE(settings.block("10.0.0.1"));  // a blocked computer is trusted no more
    EXPECT_TRUE(settings.trust("10.0.0.2"));
    EXPECT_FALSE(settings.trust("10.0.0.2"));
    EXPECT_TRUE(settings.recordSignature({"10.0.0.1", "Ann at Office"}));
    EXPECT_FALSE(settings.recordSignature({"10.0.0.1", "Someone else"}));  // kept as first heard
    settings.setReceiveMode(ReceiveMode::TrustedOnly);
    settings.setVisible(false);
    settings.setReceivingFolder("/srv/in");
    ASSERT_TRUE(file.update([&](Settings& current) { current = settings; }));
    const Settings reread = file.load().settings;
    const auto now = std::chrono::system_clock::now();
    const ReceivePolicy policy = reread.policyAt(now);
    EXPECT_EQ(policy.mode(), ReceiveMode::TrustedOnly);
    EXPECT_EQ(policy.trusted(), (std::vector<ComputerIdentity>{{"10.0.0.2", ""}}));
    EXPECT_EQ(policy.blocked(), (std::vector<ComputerIdentity>{{"10.0.0.1", "Ann at Office"}}));
    EXPECT_FALSE(reread.visible());
    EXPECT_EQ(reread.receivingFolder(), "/srv/in");

    test::ScopedEnvironment environment;
    environment.set("VELTO_EVERYONE_TIMED_SECONDS", "30");
    Settings timed = reread;
    timed.setReceiveMode(ReceiveMode::EveryoneTimed, now);
    timed.setReceiveMode(ReceiveMode::EveryoneTimed, now + std::chrono::seconds(20));  // renewed
    EXPECT_EQ(timed.receiveModeAt(now + std::chrono::seconds(49)), ReceiveMode::EveryoneTimed);
    EXPECT_EQ(timed.receiveModeAt(now + std::chrono::seconds(51)), ReceiveMode::TrustedOnly);
    EXPECT_EQ(timed.policyAt(now + std::chrono::seconds(51)).mode(), ReceiveMode::TrustedOnly);
    timed.setReceiveMode(ReceiveMode::Off, now);
    EXPECT_FALSE(timed.everyoneTimedEnd());
    for (const char* unusable : {"0", "ten", "601"}) {
        environment.set("VELTO_EVERYONE_TIMED_SECONDS", unusable);
        EXPECT_EQ(Settings::everyoneTimedDuration(), std::chrono::minutes(10)) << unusable;
    }
}

// A running host follows the file: a change written by another program is in force within a
// poll, a timed mode that ran out is written back, and a marked computer it hears gets its
// signature recorded.
TEST_F(SettingsFileTest, AWatcherAppliesChangesMadeElsewhereAndRecordsHeardSignatures) {
    test::ScopedEnvironment environment;
    environment.set("VELTO_EVERYONE_TIMED_SECONDS", "1");
    ASSERT_TRUE(file.update([](Settings& settings) { settings.trust("10.77.0.2"); }));
    auto server = std::make_shared<test::FakeWiredServer>();
    test::Recorder<std::string> applied;
    SettingsWatcher watcher(
        server, file, {{}, std::chrono::milliseconds(20)},
        [&](const std::string& key, const std::string& value) { applied.add(key + " " + value); });
    EXPECT_EQ(server->receivePolicy().trusted(),
              (std::vector<ComputerIdentity>{{"10.77.0.2", ""}}));  // in force at once

    const auto waitFor = [&](const std::function<bool()>& done) {
        for (int wait = 0; wait < 200 && !done(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    ASSERT_TRUE(SettingsFile(path).update([](Settings& settings) {
        settings.setReceiveMode(ReceiveMode::Off);
        settings.setReceiveMode(ReceiveMode::EveryoneTimed);
        settings.setVisible(false);
        settings.setReceivingFolder("/srv/in");
    }));
    EXPECT_TRUE(waitFor([&] { return server->receivingFolder() == "/srv/in"; }));
    EXPECT_FALSE(server->isVisible());
    EXPECT_TRUE(waitFor([&] { return server->receivePolicy().mode() == ReceiveMode::Off; }));
    EXPECT_EQ(file.load().settings.receiveMode(), ReceiveMode::Off);

    const std::string hello =
        "\x01"
        "Bo at Desk";
    server->handleDatagram(Bytes(hello.begin(), hello.end()), "10.77.0.2");
    EXPECT_TRUE(waitFor([&] {
        return server->receivePolicy().trusted() ==
               std::vector<ComputerIdentity>{{"10.77.0.2", "Bo at Desk"}};
    }));
    // Each change is reported once it is in force, so the last report may still be on its way.
    std::vector<std::string> reports;
    const auto reportedAll = [&] {
        for (std::string& report : applied.take()) {
            reports.push_back(std::move(report));
        }
        for (const std::string expected :
             {"visible no", "receive-folder /srv/in", "receive-mode off", "trusted 10.77.0.2"}) {
            if (std::find(reports.begin(), reports.end(), expected) == reports.end()) {
                return false;
            }
        }
        return true;
    };
    EXPECT_TRUE(waitFor(reportedAll)) << testing::PrintToString(reports);
}

}  // namespace
}  // namespace velto

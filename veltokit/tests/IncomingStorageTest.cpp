#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "incoming/IncomingStorage.h"
#include "incoming/SmallFileStore.h"
#include "incoming/StorageNames.h"
#include "support/FileTree.h"
#include "support/TempDir.h"

namespace velto::test {
namespace {

std::chrono::system_clock::time_point localTime(int hour, int minute) {
    std::tm parts{};
    parts.tm_year = 2026 - 1900;
    parts.tm_mon = 11;
    parts.tm_mday = 5;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = 9;
    parts.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

// Stores the given files (relative path, content) through one storage and publishes them.
std::string publish(
    const std::string& base, const std::vector<std::pair<std::string, std::string>>& files,
    std::chrono::system_clock::time_point start = std::chrono::system_clock::now()) {
    IncomingStorage storage(base, start);
    std::string error;
    for (const auto& [relative, content] : files) {
        if (content == "/") {
            EXPECT_TRUE(storage.prepareFolder(relative, error)) << error;
            continue;
        }
        EXPECT_TRUE(storage.prepareFile(relative, error)) << error;
        EXPECT_TRUE(storage.write(bytesOf(content), error)) << error;
        EXPECT_TRUE(storage.closeFile(error)) << error;
    }
    std::optional<std::string> published;
    EXPECT_TRUE(storage.publish(published, error)) << error;
    return published.value_or("");
}

TEST(Storage, ElementsMakeMissingFoldersRepeatsReplaceAndFileFolderClashesAreRefused) {
    TempDir base;
    IncomingStorage storage(base.str(), std::chrono::system_clock::now());
    std::string error;
    const auto store = [&](const std::string& relative, const std::string& content) {
        return storage.prepareFile(relative, error) && storage.write(bytesOf(content), error) &&
               storage.closeFile(error);
    };
    EXPECT_TRUE(store("a/b/c.txt", "first")) << error;  // no folder element came before
    EXPECT_TRUE(storage.prepareFolder("a", error)) << error;
    EXPECT_TRUE(storage.prepareFolder("a/b", error)) << error;
    EXPECT_TRUE(storage.prepareFolder("d/e/f", error)) << error;
    EXPECT_TRUE(store("d/e/g.txt", "g")) << error;
    EXPECT_TRUE(store("a/b/c.txt", "second")) << error;  // back to a folder used before

    EXPECT_FALSE(storage.prepareFile("a/b", error));  // a folder by that name
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(storage.prepareFolder("a/b/c.txt", error));  // a file by that name
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(storage.prepareFile("a/b/c.txt/g", error));  // a file on the way

    std::optional<std::string> published;
    ASSERT_TRUE(storage.publish(published, error)) << error;
    ASSERT_TRUE(published);  // two entries: the dated folder
    EXPECT_EQ(treeOf(*published), (std::map<std::string, std::string>{{"a", "/"},
                                                                      {"a/b", "/"},
                                                                      {"a/b/c.txt", "second"},
                                                                      {"d", "/"},
                                                                      {"d/e", "/"},
                                                                      {"d/e/f", "/"},
                                                                      {"d/e/g.txt", "g"}}));
}

// Small files go through batches on two threads: each name comes three times in a row, and
// where the three straddle two batches, the later batch is stored on the other thread while
// the earlier one is; the last one sent must be what stays. A file in the way of the folders
// after it fails the store, with a reason.
TEST(SmallFiles, TheLastOfANameStaysAcrossBatchesAndTheFirstFailureIsReported) {
    TempDir base;
    IncomingStorage storage(base.str(), std::chrono::system_clock::now());
    std::string error;
    ASSERT_TRUE(storage.prepareStore(error)) << error;
    std::map<std::string, std::string> expected;
    {
        SmallFileStore store(storage);
        for (int i = 0; i < 1000; ++i) {
            const std::string folder = "d" + std::to_string(i % 5);
            const std::string name = folder + "/f" + std::to_string(i);
            for (int copy = 1; copy <= 3; ++copy) {
                expected[name] = name + " copy " + std::to_string(copy);
                ASSERT_TRUE(store.add(name, bytesOf(expected[name]), error)) << error;
            }
            expected[folder] = "/";
        }
        ASSERT_TRUE(store.finish(error)) << error;
    }
    EXPECT_EQ(treeOf(storage.intermediatePath()), expected);

    SmallFileStore store(storage);
    bool stored = store.add("x", bytesOf("in the way"), error);
    for (int i = 0; stored && i < 100; ++i) {
        stored = store.add("x/f" + std::to_string(i), bytesOf("f"), error);
    }
    EXPECT_FALSE(stored && store.finish(error));
    // Which file meets the clash first depends on the threads; the reason names it.
    EXPECT_EQ(error.rfind("cannot create " + storage.intermediatePath() + "/x", 0), 0u) << error;
    EXPECT_EQ(readFile(storage.intermediatePath() + "/x"), "in the way");
}

TEST(StorageNames, FolderNamesUseTheTwelveHourClock) {
    EXPECT_EQ(StorageNames::datedFolder(localTime(15, 7)), "Received by Velto at 2026-12-05 03-07");
    EXPECT_EQ(StorageNames::datedFolder(localTime(3, 7)),
              StorageNames::datedFolder(localTime(15, 7)));
    EXPECT_EQ(StorageNames::intermediateFolder(localTime(15, 7), "R"),
              ".VeltoTransferIntermediateStorage20261205030709R");
}

// One item keeps its name; on a clash, file or folder, it takes the next free number before
// the last extension, and what was there stays as it was.
TEST(Publication, OneItemKeepsItsNameOrTakesTheNextFreeNumberAndReplacesNothing) {
    TempDir base;
    const auto album = publish(
        base.str(),
        {{"Album", "/"}, {"Album/a.jpg", "a"}, {"Album/sub", "/"}, {"Album/sub/b.jpg", "b"}});
    EXPECT_EQ(album, base.str() + "/Album");
    EXPECT_EQ(publish(base.str(), {{"Album", "/"}}), base.str() + "/Album (2)");
    EXPECT_EQ(treeOf(album), (std::map<std::string, std::string>{
                                 {"a.jpg", "a"}, {"sub", "/"}, {"sub/b.jpg", "b"}}));
    std::filesystem::create_directory(base.path() / "my.project");
    EXPECT_EQ(publish(base.str(), {{"my.project", "/"}}), base.str() + "/my (2).project");
    writeFile(base.str() + "/archive.tar.gz", "old");
    writeFile(base.str() + "/archive.tar (2).gz", "old 2");
    EXPECT_EQ(publish(base.str(), {{"archive.tar.gz", "new"}}), base.str() + "/archive.tar (3).gz");
    EXPECT_EQ(
        readFile(base.str() + "/archive.tar.gz") + readFile(base.str() + "/archive.tar (2).gz"),
        "oldold 2");
    EXPECT_EQ(readFile(base.str() + "/archive.tar (3).gz"), "new");
}

TEST(Publication, SeveralItemsGoIntoTheDatedFolderNumberedOnAClash) {
    TempDir base;
    const auto at = localTime(15, 7);
    const std::string dated = base.str() + "/Received by Velto at 2026-12-05 03-07";
    EXPECT_EQ(publish(base.str(), {{"a.txt", "a"}, {"b.txt", "b"}}, at), dated);
    EXPECT_EQ(publish(base.str(), {{"c.txt", "c"}, {"d.txt", "d"}}, localTime(3, 7)),
              dated + " (2)");
    EXPECT_EQ(treeOf(dated), (std::map<std::string, std::string>{{"a.txt", "a"}, {"b.txt", "b"}}));
    EXPECT_EQ(treeOf(dated + " (2)"),
              (std::map<std::string, std::string>{{"c.txt", "c"}, {"d.txt", "d"}}));
}

TEST(Publication, NothingShowsUnderAVisibleNameBeforePublicationAndLeftoversAreCleaned) {
    TempDir base;
    IncomingStorage running(base.str(), std::chrono::system_clock::now());
    std::string error;
    ASSERT_TRUE(running.prepareFile("secret.txt", error)) << error;
    std::filesystem::create_directory(base.path() / ".VeltoTransferIntermediateStorage2026crashed");
    for (const auto& entry : std::filesystem::directory_iterator(base.path())) {
        EXPECT_EQ(entry.path().filename().string()[0], '.');
    }
    EXPECT_EQ(IncomingStorage::removeLeftovers(base.str()), 1u);  // not the running one
    EXPECT_TRUE(std::filesystem::exists(running.intermediatePath()));
    running.discard();
    EXPECT_TRUE(std::filesystem::is_empty(base.path()));

    // A peer's item named like an intermediate folder must not be cleared at the next start.
    const std::string lookalike = ".VeltoTransferIntermediateStorage2026Album";
    EXPECT_EQ(publish(base.str(), {{lookalike, "/"}, {lookalike + "/a.txt", "a"}}),
              base.str() + "/" + lookalike.substr(1));
    EXPECT_EQ(publish(base.str(), {{lookalike, "b"}}),
              base.str() + "/" + lookalike.substr(1) + " (2)");
    EXPECT_EQ(IncomingStorage::removeLeftovers(base.str()), 0u);
    EXPECT_EQ(treeOf(base.str()),
              (std::map<std::string, std::string>{{lookalike.substr(1), "/"},
                                                  {lookalike.substr(1) + "/a.txt", "a"},
                                                  {lookalike.substr(1) + " (2)", "b"}}));
}

}  // namespace
}  // namespace velto::test

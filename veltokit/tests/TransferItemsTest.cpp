#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "support/FileTree.h"
#include "support/TempDir.h"
#include "velto/VeltoFile.h"
#include "velto/VeltoText.h"
#include "velto/VeltoTransfer.h"

namespace velto::test {
namespace {

std::vector<std::string> namesOf(const ItemList& items) {
    std::vector<std::string> names;
    for (const auto& item : items) {
        names.push_back(item->name() +
                        (item->protocolSize() == VeltoItem::folderMarker ? "/" : ""));
    }
    return names;
}

std::size_t indexOf(const std::vector<std::string>& names, const std::string& name) {
    return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

// Headers of each kind are checked on the wire by the outgoing transfer's tests.
TEST(TransferItems, FilesAreReadInChunksAndReleasedAfterTheLast) {
    const VeltoText accented("caf\xC3\xA9");  // sizes count bytes, not characters
    EXPECT_EQ(accented.protocolSize(), 5u);
    TempDir dir;
    writeFile(dir.str() + "/big", std::string(VeltoItem::chunkSize + 1, 'z'));
    writeFile(dir.str() + "/empty", "");
    VeltoFile big(dir.str() + "/big");
    EXPECT_EQ(big.nextChunk().size(), VeltoItem::chunkSize);
    EXPECT_TRUE(big.isOpen());
    EXPECT_EQ(big.nextChunk(), Bytes{'z'});
    EXPECT_FALSE(big.isOpen());
    VeltoFile empty(dir.str() + "/empty");
    EXPECT_TRUE(empty.nextChunk().empty());
    EXPECT_FALSE(empty.isOpen());
    EXPECT_EQ(empty.readFailure(), "");
}

TEST(TransferItems, WalkIsDepthFirstWithRelativeNamesAndSkipsWhatCannotBeSent) {
    TempDir dir;
    const std::string photos = dir.str() + "/Photos";
    writeFile(photos + "/x.jpg", "x");
    writeFile(photos + "/.hidden", "h");
    writeFile(photos + "/2016/y.jpg", "yy");
    writeFile(dir.str() + "/target.txt", "12345");
    std::filesystem::create_symlink(dir.str() + "/target.txt", photos + "/link.txt");
    std::filesystem::create_symlink(photos, photos + "/2016/loop");  // back into an ancestor
    std::filesystem::create_symlink(dir.str() + "/nothing", photos + "/dangling");
    ::mkfifo((photos + "/pipe").c_str(), 0600);

    std::vector<SkippedPath> skipped;
    const auto items = VeltoTransfer::itemsForPaths(
        {photos + "/", dir.str() + "/missing", dir.str() + "/target.txt"}, skipped);
    const auto names = namesOf(items);
    EXPECT_EQ(names.front(), "Photos/");
    EXPECT_EQ(names.back(), "target.txt");
    EXPECT_EQ(names.size(), 7u);
    for (const auto& name :
         {"Photos/x.jpg", "Photos/.hidden", "Photos/link.txt", "Photos/2016/y.jpg"}) {
        EXPECT_LT(indexOf(names, name), names.size()) << name;
    }
    EXPECT_LT(indexOf(names, "Photos/2016/"), indexOf(names, "Photos/2016/y.jpg"));
    EXPECT_EQ(items[indexOf(names, "Photos/link.txt")]->size(), 5u);  // the target's size

    std::vector<std::string> skippedNames;
    for (const auto& entry : skipped) {
        skippedNames.push_back(std::filesystem::path(entry.path).filename().string());
    }
    std::sort(skippedNames.begin(), skippedNames.end());
    EXPECT_EQ(skippedNames, (std::vector<std::string>{"dangling", "loop", "missing", "pipe"}));
}

// A name on disk that is not UTF-8 goes out with each stray byte as %XX, valid names (even
// with "%XX" in them) as they are; one that so meets a sibling's name is numbered.
TEST(TransferItems, NamesThatAreNotUtf8GoOutEscapedAndNeverMeetASibling) {
    TempDir dir;
    const std::string top = dir.str() + "/M\xFCsik";  // Latin-1
    writeFile(top + "/caf\xE9.jpg", "a");
    writeFile(top + "/caf%E9.jpg", "b");
    writeFile(top + "/\xC3(.txt", "c");  // a sequence cut short
    writeFile(top + "/d\xFCr/x", "d");
    writeFile(top + "/na\xC3\xAFve.txt", "e");
    const auto items = VeltoTransfer::itemsForPaths({top});
    std::map<std::string, std::string> sent;  // name sent: name on disk
    for (const auto& item : items) {
        sent[item->name()] = item->nameOnDisk();
    }
    EXPECT_EQ(sent, (std::map<std::string, std::string>{{"M%FCsik", "M\xFCsik"},
                                                        {"M%FCsik/caf%E9 (2).jpg", "caf\xE9.jpg"},
                                                        {"M%FCsik/caf%E9.jpg", ""},
                                                        {"M%FCsik/%C3(.txt", "\xC3(.txt"},
                                                        {"M%FCsik/d%FCr", "d\xFCr"},
                                                        {"M%FCsik/d%FCr/x", ""},
                                                        {"M%FCsik/na\xC3\xAFve.txt", ""}}));
}

// Folders are walked through open descriptors down to some depth and by path below it.
TEST(TransferItems, DeepTreeIsWalkedWholeWithTheRightSizes) {
    TempDir dir;
    std::string relative = "top";
    for (int depth = 0; depth < 100; ++depth) {
        relative += "/d" + std::to_string(depth);
        writeFile(dir.str() + "/" + relative + ".txt",
                  std::string(static_cast<std::size_t>(depth), 'x'));
    }
    std::filesystem::create_directories(dir.str() + "/" + relative);
    const auto items = VeltoTransfer::itemsForPaths({dir.str() + "/top"});
    ASSERT_EQ(items.size(), 201u);  // top, then per level a file and a folder
    for (const auto& item : items) {
        const auto slash = item->name().rfind("/d");
        const auto dot = item->name().rfind(".txt");
        if (dot != std::string::npos) {
            EXPECT_EQ(item->size(), std::stoul(item->name().substr(slash + 2, dot - slash - 2)))
                << item->name();
        }
    }
    EXPECT_LT(indexOf(namesOf(items), relative + "/"), items.size());  // the deepest folder
}

// The items of a chosen folder with many subfolders (walked by two threads) come in the order
// one thread would give: each folder before its entries, entries in listing order, and so do
// the paths left out.
TEST(TransferItems, SharedWalkKeepsTheListingOrder) {
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path top = dir.str() + "/top";
    for (int folder = 0; folder < 12; ++folder) {
        const std::string sub = top.string() + "/d" + std::to_string(folder);
        writeFile(sub + "/a", "a");
        writeFile(sub + "/inner/b", std::string(static_cast<std::size_t>(folder), 'b'));
        writeFile(top.string() + "/f" + std::to_string(folder), "f");
        if (folder % 5 == 0) {
            fs::create_symlink(top, sub + "/inner/loop");
        }
    }
    std::vector<std::string> expected;
    std::vector<std::string> expectedSkipped;
    const auto walk = [&](const auto& self, const fs::path& at, const std::string& name) -> void {
        expected.push_back(name + "/");
        for (const auto& entry : fs::directory_iterator(at)) {  // the system's listing order
            const std::string entryName = name + "/" + entry.path().filename().string();
            if (entry.is_symlink()) {
                expectedSkipped.push_back(entry.path().string());
            } else if (entry.is_directory()) {
                self(self, entry.path(), entryName);
            } else {
                expected.push_back(entryName);
            }
        }
    };
    walk(walk, top, "top");

    std::vector<SkippedPath> skipped;
    const auto items = VeltoTransfer::itemsForPaths({top.string()}, skipped);
    EXPECT_EQ(namesOf(items), expected);
    std::vector<std::string> skippedPaths;
    for (const auto& entry : skipped) {
        skippedPaths.push_back(entry.path);
    }
    EXPECT_EQ(skippedPaths, expectedSkipped);
}

// Permissions do not bind root, so the check runs as an unprivileged user where needed.
TEST(TransferItems, UnlistableFolderIsLeftOutBeforeAnythingIsSent) {
    TempDir dir;
    writeFile(dir.str() + "/Locked/inside.txt", "x");
    writeFile(dir.str() + "/open.txt", "y");
    ::chmod(dir.str().c_str(), 0755);
    ::chmod((dir.str() + "/Locked").c_str(), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        std::vector<SkippedPath> skipped;
        const auto items =
            VeltoTransfer::itemsForPaths({dir.str() + "/Locked", dir.str() + "/open.txt"}, skipped);
        const bool right = items.size() == 1 && items[0]->name() == "open.txt" &&
                           skipped.size() == 1 && skipped[0].path == dir.str() + "/Locked";
        ::_exit(right ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod((dir.str() + "/Locked").c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace velto::test

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/FileTree.h"
#include "support/TransferRig.h"

namespace velto::test {
namespace {

// Downloads on a small file system of its own (see small-disk.sh).
class SmallDisk : public testing::Test {
  protected:
    void SetUp() override {
        const char* disk = std::getenv("VELTO_SMALL_DISK");
        if (disk == nullptr) {
            GTEST_SKIP() << "runs through small-disk.sh, on a tmpfs in a mount namespace";
        }
        downloads = disk;
        writeFile(downloads + "/keep.txt", "mine");
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(downloads, ignored)) {
            std::filesystem::remove_all(entry.path(), ignored);
        }
    }
    std::uint64_t freeBytes() const { return std::filesystem::space(downloads).available; }

    std::string downloads;
};

TEST_F(SmallDisk, TotalBeyondTheFreeSpaceIsRefusedBeforeAnythingIsWritten) {
    ReceivingRig rig(downloads);
    rig.create();
    const std::uint64_t total = freeBytes() + 1;
    rig.send(streamHeader(1, total) + element("big", total), true);
    ASSERT_TRUE(rig.delegate->waitForEnd());
    rig.queue->sync([] {});
    EXPECT_EQ(rig.delegate->kinds(), (std::vector<std::string>{"created", "failed"}));
    EXPECT_EQ(treeOf(downloads), (std::map<std::string, std::string>{{"keep.txt", "mine"}}));
}

// A small file stored once it is in, a file of one chunk and one of two: all fail cleanly.
TEST_F(SmallDisk, DiskFillingUpWhileWritingFailsAndRemovesThePartialFile) {
    for (const std::size_t size :
         {std::size_t{4096}, std::size_t{256 * 1024}, std::size_t{12 * 1024 * 1024}}) {
        ReceivingRig rig(downloads);
        rig.create();
        const std::string body(size, 'b');
        rig.send(streamHeader(2, body.size()) + folderElement("d") + element("d/f", body.size()),
                 true);
        ASSERT_TRUE(waitUntil([&] { return rig.delegate->count("progress") >= 4; }));
        {  // another program takes the rest of the disk meanwhile
            std::ofstream filler(downloads + "/filler", std::ios::binary);
            const std::string block(4096, 'f');
            while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
            }
        }
        rig.send(bytesOf(body));
        ASSERT_TRUE(rig.delegate->waitForEnd()) << size;
        rig.queue->sync([] {});
        EXPECT_EQ(rig.delegate->kinds().back(), "failed") << size;
        for (const Report& report : rig.delegate->reports()) {  // nothing claimed done
            EXPECT_FALSE(report.kind == "progress" && report.itemFinished == report.itemCount)
                << size;
        }
        EXPECT_EQ(rig.transfer->failureReason(),
                  "cannot write a received file: No space left on device")
            << size;
        std::filesystem::remove(downloads + "/filler");
        EXPECT_EQ(treeOf(downloads), (std::map<std::string, std::string>{{"keep.txt", "mine"}}))
            << size;
    }
}

}  // namespace
}  // namespace velto::test

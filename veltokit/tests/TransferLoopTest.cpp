#include <gtest/gtest.h>

#include <filesystem>

#include "support/FileTree.h"
#include "support/TempDir.h"
#include "support/TransferRig.h"

namespace velto::test {
namespace {

// A sender and a receiver of this library joined by an in-memory connection.
TEST(TransferLoop, TreeArrivesIdenticalWithProgressRulesKeptOnBothSides) {
    TempDir source;
    TempDir downloads;
    const std::string tree = source.str() + "/Project";
    writeFile(tree + "/.config", "hidden");
    writeFile(tree + "/empty.txt", "");
    writeFile(tree + "/src/main.cpp", std::string(3'000'000, 'm'));
    writeFile(tree + "/src/deep/er/leaf", "leaf");
    std::filesystem::create_directories(tree + "/empty/folder");
    auto outgoing = DispatchQueue::create("outgoing");
    auto incoming = DispatchQueue::create("incoming");
    LoopRig rig(VeltoTransfer::itemsForPaths({tree}), downloads.str(), outgoing, incoming);
    rig.receivingEnd->setRandomPieces(11, 200'000);
    rig.receivingEnd->setWindow(300'000);
    ASSERT_TRUE(rig.sender->waitForEnd());
    ASSERT_TRUE(rig.receiver->waitForEnd());
    incoming->sync([] {});
    outgoing->sync([] {});

    EXPECT_EQ(treeOf(downloads.str() + "/Project"), treeOf(tree));
    EXPECT_EQ(rig.sender->kinds(), (std::vector<std::string>{"connected", "progress", "finished"}));
    EXPECT_EQ(rig.receiver->kinds(),
              (std::vector<std::string>{"created", "progress", "file", "finished"}));
    EXPECT_EQ(progressBreach(rig.sender->reports()), "");
    EXPECT_EQ(progressBreach(rig.receiver->reports()), "");
}

TEST(TransferLoop, FourTransfersAtOnceEachArriveWhole) {
    TempDir source;
    TempDir downloads;
    auto outgoing = DispatchQueue::create("outgoing");
    auto incoming = DispatchQueue::create("incoming");
    std::vector<std::unique_ptr<LoopRig>> rigs;
    for (int i = 0; i < 4; ++i) {
        const std::string name = source.str() + "/f" + std::to_string(i) + ".bin";
        writeFile(name,
                  std::string(2'000'000 + static_cast<std::size_t>(i), static_cast<char>('a' + i)));
        rigs.push_back(std::make_unique<LoopRig>(VeltoTransfer::itemsForPaths({name}),
                                                 downloads.str(), outgoing, incoming));
    }
    for (const auto& rig : rigs) {
        ASSERT_TRUE(rig->receiver->waitForEnd());
        EXPECT_EQ(rig->receiver->kinds().back(), "finished");
    }
    incoming->sync([] {});
    outgoing->sync([] {});
    std::map<std::string, std::string> expected;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        expected[name] =
            std::string(2'000'000 + static_cast<std::size_t>(i), static_cast<char>('a' + i));
    }
    EXPECT_EQ(treeOf(downloads.str()), expected);
}

}  // namespace
}  // namespace velto::test

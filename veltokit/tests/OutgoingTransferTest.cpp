#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "support/FileTree.h"
#include "support/TempDir.h"
#include "support/TransferRig.h"
#include "velto/VeltoDir.h"
#include "velto/VeltoFile.h"
#include "velto/VeltoText.h"

namespace velto::test {
namespace {

using Numbers = std::vector<std::uint64_t>;  // itemCount, itemFinished, byteCount, byteFinished

std::vector<Numbers> progressOf(const std::vector<Report>& reports) {
    std::vector<Numbers> numbers;
    for (const auto& report : reports) {
        if (report.kind == "progress") {
            numbers.push_back(
                {report.itemCount, report.itemFinished, report.byteCount, report.byteFinished});
        }
    }
    return numbers;
}

std::string patterned(std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return content;
}

template <typename Done>
void waitUntil(Done done) {
    for (int i = 0; i < 20000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(done());
}

TEST(OutgoingWire, TextHiIsExactlyTheFortyFiveBytesAndReportsInOrder) {
    SendingRig rig(VeltoTransfer::itemsForText("hi"));
    rig.start();
    ASSERT_TRUE(rig.delegate->waitForEnd());
    const Bytes expected = streamHeader(1, 2) + element("___VELTO___TEXT___", 2, "hi");
    ASSERT_EQ(expected.size(), 45u);
    EXPECT_EQ(rig.remote->collected(), expected);
    EXPECT_EQ(rig.delegate->kinds(),
              (std::vector<std::string>{"connected", "progress", "finished"}));
    EXPECT_EQ(progressOf(rig.delegate->reports()),
              (std::vector<Numbers>{{1, 0, 2, 0}, {1, 0, 2, 0}, {1, 1, 2, 2}}));
}

TEST(OutgoingWire, EmptyFolderFileTextAndListSendHeadersOnly) {
    TempDir dir;
    writeFile(dir.str() + "/empty.txt", "");
    std::filesystem::create_directory(dir.path() / "Empty");
    struct Case {
        ItemList items;
        Bytes wire;
    };
    const std::vector<Case> cases = {
        {{std::make_shared<VeltoDir>(dir.str() + "/Empty", "Empty")},
         streamHeader(1, 0) + folderElement("Empty")},
        {{std::make_shared<VeltoFile>(dir.str() + "/empty.txt")},
         streamHeader(1, 0) + element("empty.txt", 0)},
        {VeltoTransfer::itemsForText(""), streamHeader(1, 0) + element("___VELTO___TEXT___", 0)},
        {{}, streamHeader(0, 0)},
    };
    for (const auto& testCase : cases) {
        SendingRig rig(testCase.items);
        rig.start();
        ASSERT_TRUE(rig.delegate->waitForEnd());
        EXPECT_EQ(rig.remote->collected(), testCase.wire);
        EXPECT_EQ(rig.delegate->kinds().back(), "finished");
        const auto expected = testCase.items.empty()
                                  ? std::vector<Numbers>{{0, 0, 0, 0}}
                                  : std::vector<Numbers>{{1, 0, 0, 0}, {1, 0, 0, 0}, {1, 1, 0, 0}};
        EXPECT_EQ(progressOf(rig.delegate->reports()), expected);
    }
}

TEST(OutgoingWire, LargeFileGoesInTenMebibyteChunksOneWriteAtATime) {
    TempDir dir;
    const std::string content = patterned(25'000'000);
    writeFile(dir.str() + "/big.bin", content);
    SendingRig rig({std::make_shared<VeltoFile>(dir.str() + "/big.bin")});
    rig.remote->setRandomPieces(7, 3'000'000);  // partial writes between completions
    rig.start();
    ASSERT_TRUE(rig.delegate->waitForEnd());
    ASSERT_EQ(rig.delegate->kinds().back(), "finished");

    std::vector<std::size_t> bodyWrites;
    for (const auto& [tag, size] : rig.local->writeLog()) {
        if (tag == VeltoTransfer::tagFileBody) {
            bodyWrites.push_back(size);
        }
    }
    EXPECT_EQ(bodyWrites, (std::vector<std::size_t>{10'485'760, 10'485'760, 4'028'480}));
    EXPECT_EQ(rig.local->maxWritesInFlight(), 1u);
    const Bytes expected = streamHeader(1, 25'000'000) + element("big.bin", 25'000'000, content);
    EXPECT_TRUE(rig.remote->collected() == expected);
    const auto reports = rig.delegate->reports();
    EXPECT_EQ(progressBreach(reports), "");
    EXPECT_GT(progressOf(reports).size(), 8u);  // partial writes were reported too
}

// A body of whole chunks that notes, at each read, how many body writes had been issued.
class WatchedBody : public VeltoItem {
  public:
    explicit WatchedBody(std::size_t chunks)
        : VeltoItem("body.bin", chunks * chunkSize, chunks * chunkSize) {}

    std::function<std::size_t()> writesIssued;
    Bytes nextChunk() override {
        std::lock_guard lock(mutex_);
        issuedAtRead_.push_back(writesIssued());
        return Bytes(chunkSize, 'b');
    }
    std::vector<std::size_t> issuedAtRead() const {
        std::lock_guard lock(mutex_);
        return issuedAtRead_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::size_t> issuedAtRead_;
};

TEST(OutgoingWire, NextChunkIsReadWhileTheCurrentGoesOutButNeverTwoAhead) {
    const auto body = std::make_shared<WatchedBody>(5);
    SendingRig rig({body});
    body->writesIssued = [&rig] {
        std::size_t bodies = 0;
        for (const auto& [tag, size] : rig.local->writeLog()) {
            bodies += tag == VeltoTransfer::tagFileBody ? 1 : 0;
        }
        return bodies;
    };
    rig.remote->setCollecting(false);  // holds the first chunk back
    rig.remote->setWindow(65'536);
    rig.start();
    waitUntil([&] { return body->issuedAtRead().size() == 2; });  // read ahead meanwhile
    rig.remote->setCollecting(true);
    ASSERT_TRUE(rig.delegate->waitForEnd());
    ASSERT_EQ(rig.delegate->kinds().back(), "finished");

    // Chunk k is read once chunk k-1 has been handed to the socket, and not before: the
    // transfer holds at most the chunk going out and the one read ahead.
    EXPECT_EQ(body->issuedAtRead(), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(rig.local->maxWritesInFlight(), 1u);
    EXPECT_EQ(rig.remote->collected().size(), 16 + 9 + 8 + 5 * VeltoItem::chunkSize);
}

TEST(OutgoingFailure, RefusedConnectionReportsFailedOnceAndNothingElse) {
    SendingRig rig(VeltoTransfer::itemsForText("hi"));
    rig.local->refuseConnect("connection refused");
    rig.start();
    ASSERT_TRUE(rig.delegate->waitForEnd());
    rig.queue->sync([] {});
    EXPECT_EQ(rig.delegate->kinds(), std::vector<std::string>{"failed"});
}

// A receiver that stops taking bytes in the middle of a body, or closes there: the body write
// is granted more time while it moves, and the transfer fails once, never finished, when it
// stops moving or the connection goes.
TEST(OutgoingFailure, ReceiverThatStopsReadingOrClosesMidBodyFailsTheTransferOnce) {
    TempDir dir;
    writeFile(dir.str() + "/f.bin", patterned(3'000'000));
    for (const bool closes : {false, true}) {
        SendingRig rig({std::make_shared<VeltoFile>(dir.str() + "/f.bin")});
        rig.remote->setCollecting(false);
        rig.remote->setWindow(65'536);
        rig.start();
        waitUntil([&] { return rig.delegate->count("progress") >= 3; });  // the partial write
        if (closes) {
            rig.remote->disconnect();
        } else {
            ASSERT_TRUE(rig.local->expireWriteTimeout(60));
            rig.queue->sync([] {});
            EXPECT_EQ(rig.delegate->count("failed"), 0u);
            ASSERT_TRUE(rig.local->expireWriteTimeout(120));
        }
        ASSERT_TRUE(rig.delegate->waitForEnd());
        rig.queue->sync([] {});
        EXPECT_EQ(rig.delegate->kinds(),
                  (std::vector<std::string>{"connected", "progress", "failed"}));
    }
}

// The stream never carries a body of another length than announced: a source that changes
// ends the transfer, and what went out is a true prefix of the announced stream.
TEST(OutgoingFailure, SourceThatChangesWhileSentEndsTheTransferWithoutWrongBytes) {
    enum class Change { vanishes, shrinksBefore, shrinksDuring, growsDuring };
    for (const auto change :
         {Change::vanishes, Change::shrinksBefore, Change::shrinksDuring, Change::growsDuring}) {
        TempDir dir;
        const std::string path = dir.str() + "/f.bin";
        // Three chunks: while the first is held back, the second has been read ahead, so a
        // change made then shows when the third is read.
        const std::string content = patterned(2 * VeltoItem::chunkSize + 1000);
        writeFile(path, content);
        SendingRig rig({std::make_shared<VeltoFile>(path)});
        rig.remote->setCollecting(false);  // holds the first chunk back
        rig.remote->setWindow(65'536);
        if (change == Change::vanishes) {
            std::filesystem::remove(path);
        } else if (change == Change::shrinksBefore) {
            ::truncate(path.c_str(), 10);
        }
        rig.start();
        if (change == Change::shrinksDuring || change == Change::growsDuring) {
            waitUntil([&] { return rig.delegate->count("progress") >= 3; });
            if (change == Change::shrinksDuring) {
                ::truncate(path.c_str(), 100);
            } else {
                writeFile(path, content + "more");
            }
        }
        rig.remote->setCollecting(true);
        ASSERT_TRUE(rig.delegate->waitForEnd());
        rig.queue->sync([] {});
        EXPECT_EQ(rig.delegate->count("failed"), 1u);
        EXPECT_EQ(rig.delegate->count("finished"), 0u);
        const Bytes full =
            streamHeader(1, content.size()) + element("f.bin", content.size(), content);
        const Bytes sent = rig.remote->collected();
        EXPECT_LT(sent.size(), full.size());
        EXPECT_TRUE(std::equal(sent.begin(), sent.end(), full.begin()))
            << static_cast<int>(change) << " sent " << sent.size();
    }
}

}  // namespace
}  // namespace velto::test

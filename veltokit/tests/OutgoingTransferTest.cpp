#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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

TEST(OutgoingWire, SmallItemsAreExactlyTheirBytesWithReportsInOrder) {
    TempDir dir;
    writeFile(dir.str() + "/empty.txt", "");
    std::filesystem::create_directory(dir.path() / "Empty");
    const std::vector<Numbers> nothing = {{1, 0, 0, 0}, {1, 0, 0, 0}, {1, 1, 0, 0}};
    struct Case {
        ItemList items;
        Bytes wire;
        std::vector<Numbers> progress;
    };
    const std::vector<Case> cases = {
        {VeltoTransfer::itemsForText("hi"),
         streamHeader(1, 2) + element("___VELTO___TEXT___", 2, "hi"),
         {{1, 0, 2, 0}, {1, 0, 2, 0}, {1, 1, 2, 2}}},
        {{std::make_shared<VeltoDir>(dir.str() + "/Empty", "Empty")},
         streamHeader(1, 0) + folderElement("Empty"),
         nothing},
        {{std::make_shared<VeltoFile>(dir.str() + "/empty.txt")},
         streamHeader(1, 0) + element("empty.txt", 0),
         nothing},
        {VeltoTransfer::itemsForText(""), streamHeader(1, 0) + element("___VELTO___TEXT___", 0),
         nothing},
        {{}, streamHeader(0, 0), {{0, 0, 0, 0}}},
    };
    ASSERT_EQ(cases[0].wire.size(), 45u);
    for (const auto& testCase : cases) {
        SendingRig rig(testCase.items);
        rig.start();
        EXPECT_EQ(rig.receiveAll(), testCase.wire);
        ASSERT_TRUE(rig.delegate->waitForEnd());
        EXPECT_EQ(rig.delegate->kinds(),
                  (std::vector<std::string>{"connected", "progress", "finished"}));
        EXPECT_EQ(progressOf(rig.delegate->reports()), testCase.progress);
    }
}

TEST(OutgoingWire, LargeFileGoesStraightFromTheFileButItsReadTail) {
    TempDir dir;
    const std::string content = patterned(25'000'000);
    writeFile(dir.str() + "/big.bin", content);
    SendingRig rig({std::make_shared<VeltoFile>(dir.str() + "/big.bin")});
    rig.start();
    const Bytes received = rig.receiveAll();
    ASSERT_TRUE(rig.delegate->waitForEnd());
    ASSERT_EQ(rig.delegate->kinds().back(), "finished");

    std::vector<std::size_t> bodyWrites;
    for (const auto& [tag, size] : rig.connection->notes().writes) {
        if (tag == VeltoTransfer::tagFileBody) {
            bodyWrites.push_back(size);
        }
    }
    EXPECT_EQ(bodyWrites, (std::vector<std::size_t>{25'000'000 - VeltoTransfer::fileBodyTail,
                                                    VeltoTransfer::fileBodyTail}));
    EXPECT_EQ(rig.connection->notes().maxWritesInFlight, 1u);
    const Bytes expected = streamHeader(1, 25'000'000) + element("big.bin", 25'000'000, content);
    EXPECT_TRUE(received == expected);
    const auto reports = rig.delegate->reports();
    EXPECT_EQ(progressBreach(reports), "");
    EXPECT_GT(progressOf(reports).size(), 8u);  // partial writes were reported too
}

// A receiver that stops taking bytes in the middle of a body, or closes there: the transfer
// is asked about the write only once it stood still for the stall time, and fails once, never
// finished, then or when the connection goes.
TEST(OutgoingFailure, ReceiverThatStopsReadingOrClosesMidBodyFailsTheTransferOnce) {
    TempDir dir;
    writeFile(dir.str() + "/f.bin", patterned(12'000'000));  // a chunk beyond the buffers
    for (const bool closes : {false, true}) {
        SendingRig rig({std::make_shared<VeltoFile>(dir.str() + "/f.bin")}, 0.05);
        rig.start();
        ASSERT_TRUE(waitUntil([&] { return rig.delegate->count("progress") >= 3; }));  // partial
        if (closes) {
            ASSERT_TRUE(rig.peer.accept());
            rig.peer.close();
        }
        ASSERT_TRUE(rig.delegate->waitForEnd());
        const auto answers = rig.connection->notes().writeTimeoutAnswers;
        if (!closes) {
            EXPECT_EQ(answers, (std::vector<double>{0}));
        }
        rig.queue->sync([] {});
        EXPECT_EQ(rig.delegate->kinds(),
                  (std::vector<std::string>{"connected", "progress", "failed"}));
    }
}

// Sending has finished only when the receiver closed having taken every byte. One that closes
// at once, or after half the stream, resets the connection: a failure, for a text as for a
// file. So is one that takes everything but never closes, after the stall time.
TEST(OutgoingFailure, OnlyAReceiverThatTookEveryByteAndClosedMakesATransferFinish) {
    TempDir dir;
    writeFile(dir.str() + "/f.bin", patterned(1024 * 1024));
    enum class Receiver { closesAtOnce, readsHalf, neverCloses, takesAll };
    for (const auto receiver :
         {Receiver::closesAtOnce, Receiver::readsHalf, Receiver::neverCloses, Receiver::takesAll}) {
        for (const bool file : {false, true}) {
            SendingRig rig(file ? ItemList{std::make_shared<VeltoFile>(dir.str() + "/f.bin")}
                                : VeltoTransfer::itemsForText("hi"),
                           0.05);
            const std::size_t streamSize = 16 + (file ? 5 + 9 + 1024 * 1024 : 18 + 9 + 2);
            rig.start();
            ASSERT_TRUE(rig.peer.accept());
            if (receiver == Receiver::readsHalf) {
                ASSERT_EQ(rig.peer.receive(streamSize / 2).size(), streamSize / 2);
            } else if (receiver != Receiver::closesAtOnce) {
                ASSERT_EQ(rig.peer.receiveUntilClosed().value_or(Bytes{}).size(), streamSize);
            }
            if (receiver != Receiver::neverCloses) {
                rig.peer.close();
            }
            ASSERT_TRUE(rig.delegate->waitForEnd());
            rig.queue->sync([] {});
            const int what = static_cast<int>(receiver) * 2 + (file ? 1 : 0);
            EXPECT_EQ(rig.delegate->kinds().back(),
                      receiver == Receiver::takesAll ? "finished" : "failed")
                << what;
            EXPECT_EQ(rig.delegate->count("finished") + rig.delegate->count("failed"), 1u) << what;
        }
    }
}

// The stream never carries a body of another length than announced: a source that changes
// ends the transfer, and what went out is a true prefix of the announced stream. A pipe in the
// file's place, with nobody writing, must not hold the transfer up either.
TEST(OutgoingFailure, SourceThatChangesWhileSentEndsTheTransferWithoutWrongBytes) {
    // The peer holds the body back after its first bytes, so a change made then shows before
    // the end of the body.
    const std::string content = patterned(2 * VeltoItem::chunkSize + 1000);
    const Bytes full = streamHeader(1, content.size()) + element("f.bin", content.size(), content);
    enum class Change { vanishes, becomesAPipe, shrinksBefore, shrinksDuring, growsDuring };
    for (const auto change : {Change::vanishes, Change::becomesAPipe, Change::shrinksBefore,
                              Change::shrinksDuring, Change::growsDuring}) {
        TempDir dir;
        const std::string path = dir.str() + "/f.bin";
        writeFile(path, content);
        SendingRig rig({std::make_shared<VeltoFile>(path)});  // the peer holds the first back
        if (change == Change::vanishes || change == Change::becomesAPipe) {
            std::filesystem::remove(path);
            ASSERT_TRUE(change == Change::vanishes || ::mkfifo(path.c_str(), 0600) == 0);
        } else if (change == Change::shrinksBefore) {
            ::truncate(path.c_str(), 10);
        }
        rig.start();
        if (change == Change::shrinksDuring || change == Change::growsDuring) {
            ASSERT_TRUE(waitUntil([&] { return rig.delegate->count("progress") >= 3; }));
            if (change == Change::shrinksDuring) {
                ::truncate(path.c_str(), 100);
            } else {
                writeFile(path, content + "more");
            }
        }
        const Bytes sent = rig.receiveAll();
        ASSERT_TRUE(rig.delegate->waitForEnd());
        rig.queue->sync([] {});
        EXPECT_EQ(rig.delegate->count("failed"), 1u);
        EXPECT_EQ(rig.delegate->count("finished"), 0u);
        EXPECT_LT(sent.size(), full.size());
        // What the system still holds of a body taken from the file refers to the file's
        // pages: a file cut short in the middle of one has the rest of that page zeroed. The
        // stream is cut short all the same.
        EXPECT_TRUE(change == Change::shrinksDuring ||
                    std::equal(sent.begin(), sent.end(), full.begin()))
            << static_cast<int>(change) << " sent " << sent.size();
        const std::string reason = rig.transfer->failureReason();
        if (change == Change::shrinksDuring || change == Change::growsDuring) {
            EXPECT_EQ(reason,
                      path + (change == Change::shrinksDuring ? " shrank while it was sent"
                                                              : " changed size while it was sent"));
        }
    }
}

}  // namespace
}  // namespace velto::test

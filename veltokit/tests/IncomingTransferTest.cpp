#include <gtest/gtest.h>

#include <filesystem>

#include "support/FileTree.h"
#include "support/TempDir.h"
#include "support/TransferRig.h"

namespace velto::test {
namespace {

using Tree = std::map<std::string, std::string>;

// Downloads with one file of its own, which every transfer must leave alone.
struct Downloads {
    Downloads() { writeFile(path() + "/keep.txt", "mine"); }
    std::string path() const { return root.str() + "/Downloads"; }
    Tree tree() const { return treeOf(path()); }
    Tree untouched() const { return {{"keep.txt", "mine"}}; }
    TempDir root;
};

std::vector<std::uint64_t> bodyReads(const WatchedConnection& connection) {
    std::vector<std::uint64_t> lengths;
    for (const auto& [tag, length] : connection.notes().reads) {
        if (tag == VeltoIncomingTransfer::tagFileBody) {
            lengths.push_back(length);
        }
    }
    return lengths;
}

// Runs one raw stream into a fresh transfer and waits for its end.
std::unique_ptr<ReceivingRig> receive(const Downloads& downloads, const Bytes& stream,
                                      std::size_t maxPiece = 0) {
    auto rig = std::make_unique<ReceivingRig>(downloads.path());
    rig->create();
    rig->send(stream, false, maxPiece);
    EXPECT_TRUE(rig->delegate->waitForEnd());
    rig->queue->sync([] {});
    return rig;
}

TEST(IncomingParser, ZeroElementsFinishRightAfterTheHeader) {
    Downloads downloads;
    const auto rig = receive(downloads, streamHeader(0, 0));
    EXPECT_EQ(rig->delegate->kinds(),
              (std::vector<std::string>{"created", "progress", "finished"}));
    const auto progress = rig->delegate->reports()[1];
    EXPECT_EQ(progress.itemCount + progress.byteCount + progress.byteFinished, 0u);
    EXPECT_FALSE(progress.name.has_value());
    EXPECT_EQ(downloads.tree(), downloads.untouched());
}

TEST(IncomingParser, LoneMarkerElementIsATextAndInATwoElementTransferAFile) {
    Downloads downloads;
    const std::string text = "h\xC3\xA9llo";
    const auto textRig = receive(
        downloads, streamHeader(1, text.size()) + element("___VELTO___TEXT___", text.size(), text));
    EXPECT_EQ(textRig->delegate->kinds(),
              (std::vector<std::string>{"created", "progress", "text", "finished"}));
    const auto reports = textRig->delegate->reports();
    EXPECT_EQ(reports[reports.size() - 2].name, text);
    EXPECT_EQ(reports[2].path, "");  // a text has no path of its own
    EXPECT_EQ(downloads.tree(), downloads.untouched());

    const std::string notUtf8 = std::string("a\xFF") + "b";
    const auto brokenRig =
        receive(downloads, streamHeader(1, 3) + element("___VELTO___TEXT___", 3, notUtf8));
    EXPECT_EQ(brokenRig->delegate->reports()[5].name, std::string("a\xEF\xBF\xBD") + "b");

    const auto fileRig =
        receive(downloads, streamHeader(2, 3) + element("___VELTO___TEXT___", 2, "ab") +
                               element("b.txt", 1, "c"));
    EXPECT_EQ(fileRig->delegate->kinds(),
              (std::vector<std::string>{"created", "progress", "file", "finished"}));
    const std::string published =
        *fileRig->delegate->reports()[fileRig->delegate->reports().size() - 2].name;
    EXPECT_EQ(treeOf(published), (Tree{{"___VELTO___TEXT___", "ab"}, {"b.txt", "c"}}));
}

TEST(IncomingParser, FoldersAndEmptyFilesNeedNoBodyRead) {
    Downloads downloads;
    const auto rig = receive(downloads, streamHeader(3, 0) + folderElement("Album") +
                                            element("Album/empty", 0) + folderElement("Album/sub"));
    EXPECT_TRUE(bodyReads(*rig->connection).empty());
    EXPECT_EQ(treeOf(downloads.path() + "/Album"), (Tree{{"empty", ""}, {"sub", "/"}}));
    const auto reports = rig->delegate->reports();
    EXPECT_EQ(progressBreach(reports), "");
}

// A body goes from the connection into its file in one read, whatever its size: no buffer of
// the transfer's own holds it.
TEST(IncomingParser, LargeBodiesGoIntoTheFileInOneRead) {
    constexpr std::uint64_t size = 25 * 1024 * 1024;
    Downloads downloads;
    ReceivingRig rig(downloads.path());
    rig.create();
    Bytes stream = streamHeader(1, size) + element("big", size);
    const std::size_t bodyStart = stream.size();
    stream.resize(bodyStart + size, 'v');
    stream.back() = 'e';
    const Bytes body(stream.begin() + static_cast<std::ptrdiff_t>(bodyStart), stream.end());
    rig.send(stream);
    ASSERT_TRUE(rig.delegate->waitForEnd());
    rig.queue->sync([] {});
    ASSERT_EQ(rig.delegate->kinds().back(), "finished");
    EXPECT_EQ(bodyReads(*rig.connection), (std::vector<std::uint64_t>{size}));
    EXPECT_EQ(rig.connection->notes().maxReadsInFlight, 1u);
    EXPECT_TRUE(bytesOf(readFile(downloads.path() + "/big")) == body);
    EXPECT_EQ(progressBreach(rig.delegate->reports()), "");
}

TEST(IncomingParser, PartialReadsReportEveryMillionBytes) {
    Downloads downloads;
    ReceivingRig rig(downloads.path());
    rig.create();
    const Bytes piece(512'000, 'x');  // each taken in before the next goes
    rig.send(streamHeader(1, 3'000'000) + element("f", 3'000'000), true);
    for (std::size_t sent = piece.size(); sent < 3'000'000; sent += piece.size()) {
        rig.send(piece, true);
        ASSERT_TRUE(waitUntil([&] { return rig.connection->notes().partialBytesRead >= sent; }));
    }
    rig.send(Bytes(3'000'000 % piece.size(), 'x'));
    ASSERT_TRUE(rig.delegate->waitForEnd());
    rig.queue->sync([] {});
    std::vector<std::uint64_t> byteFinished;
    for (const auto& report : rig.delegate->reports()) {
        if (report.kind == "progress" && report.name) {
            byteFinished.push_back(report.byteFinished);
        }
    }
    EXPECT_EQ(byteFinished,
              (std::vector<std::uint64_t>{0, 1'024'000, 2'048'000, 3'000'000, 3'000'000}));
}

TEST(IncomingParser, BytesInAnyPiecesGiveTheSameResult) {
    const Bytes stream = streamHeader(4, 3005) + folderElement("T") +
                         element("T/.hidden", 5, "hello") +
                         element("T/a/b.bin", 3000, std::string(3000, 'b')) + folderElement("T/e");
    const Tree expected = {{"T", "/"},
                           {"T/.hidden", "hello"},
                           {"T/a", "/"},
                           {"T/a/b.bin", std::string(3000, 'b')},
                           {"T/e", "/"}};
    for (const std::size_t maxPiece : {1u, 7u, 4096u}) {
        Downloads downloads;
        const auto rig = receive(downloads, stream, maxPiece);
        auto tree = downloads.tree();
        tree.erase("keep.txt");
        EXPECT_EQ(tree, expected) << "pieces of up to " << maxPiece;
        EXPECT_EQ(progressBreach(rig->delegate->reports()), "");
    }
}

// Every broken stream: failed once, never finished, nothing of it left, the rest untouched.
TEST(IncomingFaults, BrokenStreamsLeaveNothingBehind) {
    const Bytes folder = streamHeader(3, 100) + folderElement("d");
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"inside the header", streamHeader(1, 5)},
        {"inside a name", folder + bytesOf("d/fi")},
        {"inside a size", folder + Bytes{'d', '/', 'f', 0, 100, 0}},
        {"inside a body", folder + element("d/f", 100, std::string(40, 'x'))},
        {"fewer elements than announced", folder + element("d/f", 100, std::string(100, 'x'))},
    };
    for (const auto& [what, stream] : cases) {
        Downloads downloads;
        const auto rig = receive(downloads, stream);
        EXPECT_EQ(rig->delegate->count("failed"), 1u) << what;
        EXPECT_EQ(rig->delegate->count("finished"), 0u) << what;
        EXPECT_EQ(downloads.tree(), downloads.untouched()) << what;
    }
}

TEST(IncomingFaults, ReadTimeOutMidBodyRemovesThePartialFolder) {
    Downloads downloads;
    ReceivingRig rig(downloads.path(), 0.05);  // time-outs of 250 ms for headers, 3 s for bodies
    rig.create();
    rig.send(streamHeader(2, 100) + folderElement("d") + element("d/f", 100, "partial"), true);
    ASSERT_TRUE(waitUntil([&] { return rig.delegate->count("progress") >= 4; }));
    std::string partialFolder;
    rig.queue->sync([&] { partialFolder = rig.transfer->currentBasePath(); });
    EXPECT_TRUE(std::filesystem::exists(partialFolder));
    ASSERT_TRUE(rig.delegate->waitForEnd());
    rig.queue->sync([] {});
    EXPECT_EQ(rig.delegate->count("failed"), 1u);
    EXPECT_EQ(downloads.tree(), downloads.untouched());
}

TEST(IncomingFaults, HostileNamesAreCleanedIntoTheTransferFolder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"../../escape.txt", "escape.txt"},
        {"/etc/passwd", "etc"},
        {"a//./../b.txt", "a"},
    };
    for (const auto& [name, published] : cases) {
        Downloads downloads;
        const auto rig = receive(downloads, streamHeader(1, 2) + element(name, 2, "ok"));
        EXPECT_EQ(rig->delegate->kinds().back(), "finished") << name;
        EXPECT_TRUE(std::filesystem::exists(downloads.path() + "/" + published)) << name;
        EXPECT_EQ(treeOf(downloads.root.str()).size(), downloads.tree().size() + 1) << name;
    }
}

TEST(IncomingFaults, UnusableNamesAndOversizedStreamsAreRefused) {
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"dot-dot only", streamHeader(1, 1) + element("..", 1, "x")},
        {"slash only", streamHeader(1, 1) + element("/", 1, "x")},
        {"empty", streamHeader(1, 1) + element("", 1, "x")},
        {"not UTF-8", streamHeader(1, 1) + element("bad\xFF.txt", 1, "x")},
        {"over 4096 bytes", streamHeader(1, 1) + Bytes(5000, 'n')},
        {"more than the total", streamHeader(1, 1) + element("f", 2, "xy")},
        {"more than the disk holds", streamHeader(1, 1ull << 62) + element("f", 1, "x")},
        {"a text as a folder", streamHeader(1, 0) + folderElement("___VELTO___TEXT___")},
    };
    for (const auto& [what, stream] : cases) {
        Downloads downloads;
        ReceivingRig rig(downloads.path());
        rig.create();
        rig.send(stream, true);  // the refusal must not wait for the stream to end
        ASSERT_TRUE(rig.delegate->waitForEnd()) << what;
        rig.queue->sync([] {});
        EXPECT_EQ(rig.delegate->kinds().back(), "failed") << what;
        EXPECT_TRUE(rig.peer.closedByOtherSide()) << what;
        EXPECT_EQ(downloads.tree(), downloads.untouched()) << what;
    }
}

}  // namespace
}  // namespace velto::test

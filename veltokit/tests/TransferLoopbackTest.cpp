#include <gtest/gtest.h>

#include <future>

#include "support/FileTree.h"
#include "support/RawTcpPeer.h"
#include "support/RecordingDelegates.h"
#include "support/TempDir.h"
#include "support/TransferRig.h"
#include "transfer/ItemListing.h"
#include "velto/AsyncTcpListener.h"
#include "velto/TransferConnections.h"
#include "velto/VeltoTransfer.h"

namespace velto::test {
namespace {

// Turns each accepted connection into an incoming transfer, as the server does.
class Acceptor : public TcpListenerDelegate {
  public:
    explicit Acceptor(std::string basePath) : basePath_(std::move(basePath)) {}
    void socketDidAcceptNewSocket(AsyncTcpListener&,
                                  std::shared_ptr<AsyncTcpSocket> socket) override {
        transfers.push_back(
            TransferConnections::receive(std::move(socket), "key", receiver, basePath_));
    }
    std::shared_ptr<RecordingIncomingDelegate> receiver =
        std::make_shared<RecordingIncomingDelegate>();
    std::vector<std::shared_ptr<VeltoIncomingTransfer>> transfers;  // on the incoming queue only

  private:
    std::string basePath_;
};

// The transfer's rules hold over the real socket layer on loopback too.
TEST(TransferOverLoopback, TreeArrivesAndARefusedConnectionFailsOnce) {
    TempDir source;
    TempDir downloads;
    const std::string tree = source.str() + "/Tree";
    for (int i = 0; i < 200; ++i) {
        writeFile(tree + "/d" + std::to_string(i % 7) + "/f" + std::to_string(i),
                  std::to_string(i));
    }
    // Bytes that differ with their position: a piece stored at the wrong offset shows.
    const Bytes big = patternBytes(23'000'000);
    writeFile(tree + "/big.bin", std::string(big.begin(), big.end()));
    writeFile(tree + "/caf\xE9.txt", "Latin-1");  // goes as caf%E9.txt
    auto outgoing = DispatchQueue::create("outgoing");
    auto incoming = DispatchQueue::create("incoming");
    auto acceptor = std::make_shared<Acceptor>(downloads.str());
    auto listener = AsyncTcpListener::create(acceptor, incoming);
    std::string error;
    ASSERT_TRUE(listener->acceptOnPort(0, &error)) << error;
    const VeltoPeer peer("127.0.0.1", "127.0.0.1", listener->localPort(), "me", {});

    auto sender = std::make_shared<RecordingTransferDelegate>();
    auto transfer = VeltoTransfer::create(VeltoTransfer::itemsForPaths({tree}), peer, outgoing);
    transfer->setDelegate(sender);
    transfer->start();
    ASSERT_TRUE(sender->waitForEnd());
    ASSERT_TRUE(acceptor->receiver->waitForEnd());
    incoming->sync([] {});
    EXPECT_EQ(sender->kinds().front(), "renamed");
    EXPECT_EQ(sender->reports().front().name, "Tree/caf%E9.txt");
    EXPECT_EQ(sender->kinds().back(), "finished");
    EXPECT_EQ(acceptor->receiver->kinds(),
              (std::vector<std::string>{"created", "progress", "file", "finished"}));
    auto expected = treeOf(tree);
    expected["caf%E9.txt"] = expected.extract("caf\xE9.txt").mapped();
    EXPECT_EQ(treeOf(downloads.str() + "/Tree"), expected);
    EXPECT_EQ(progressBreach(sender->reports()), "");
    EXPECT_EQ(progressBreach(acceptor->receiver->reports()), "");

    listener->close();
    incoming->sync([] {});  // the port is closed once the queue has run the close
    auto refused = std::make_shared<RecordingTransferDelegate>();
    auto unanswered = VeltoTransfer::create(VeltoTransfer::itemsForText("hi"), peer, outgoing);
    unanswered->setDelegate(refused);
    unanswered->start();
    ASSERT_TRUE(refused->waitForEnd());
    outgoing->sync([] {});
    EXPECT_EQ(refused->kinds(), std::vector<std::string>{"failed"});
    incoming->sync([&] { acceptor->transfers.clear(); });
}

// A folder that takes long to list holds up no other send: the listing below waits, within
// the walk, for a text that goes out on the same queue as the folder's transfer will.
TEST(TransferOverLoopback, ATextGoesOutWhileAFolderIsListed) {
    TempDir source;
    writeFile(source.str() + "/Tree/a.txt", "a");
    auto outgoing = DispatchQueue::create("outgoing");
    RawTcpPeer far;
    auto text =
        VeltoTransfer::create(VeltoTransfer::itemsForText("meanwhile"),
                              VeltoPeer("127.0.0.1", "127.0.0.1", far.port(), "me", {}), outgoing);
    std::promise<std::pair<bool, std::vector<std::string>>> listed;
    listItemsElsewhere(
        [text, tree = source.str() + "/Tree"](std::vector<SkippedPath>& skipped) {
            const bool textWentOut = waitUntil([&] { return text->hasEnded(); });
            return textWentOut ? VeltoTransfer::itemsForPaths({tree, tree + "/gone"}, skipped)
                               : ItemList{};
        },
        outgoing,
        [&listed, outgoing](ItemList items, std::vector<SkippedPath> skipped) {
            std::vector<std::string> found;
            for (const auto& item : items) {
                found.push_back(item->name());
            }
            for (const auto& left : skipped) {
                found.push_back(left.reason);
            }
            listed.set_value({outgoing->isCurrent(), found});
        });
    text->start();
    ASSERT_TRUE(far.accept());
    EXPECT_EQ(far.receiveUntilClosed().value_or(Bytes{}).size(), 52u);
    far.close();  // a text is sent once the receiver has taken it all and closed
    const auto [onReplyQueue, found] = listed.get_future().get();
    EXPECT_TRUE(onReplyQueue);
    EXPECT_EQ(found, (std::vector<std::string>{"Tree", "Tree/a.txt", "does not exist"}));
}

}  // namespace
}  // namespace velto::test

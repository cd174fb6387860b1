#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "support/DiscoveryFakes.h"
#include "support/FileTree.h"
#include "support/RawTcpPeer.h"
#include "support/RecordingDelegates.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"
#include "support/TransferRig.h"
#include "velto/VeltoIncomingTransfer.h"
#include "velto/VeltoTransfer.h"

namespace velto {
namespace {

const std::vector<std::string> failureTexts{
    "Our cute velts cannot put their ears on the UDP port 4644 so they cannot hear any sounds "
    "from other velts.",
    "Our cute velts cannot put their ears on the TCP port 4645 so they cannot know how other "
    "velts look.",
    "Our cute velts cannot put their ears on the TCP port 4644 so they cannot learn any new "
    "secrets."};

// A port of all interfaces taken for the holder's lifetime (0: any free one).
struct HeldPort {
    HeldPort(int type, std::uint16_t wanted) : fd(::socket(AF_INET, type, 0)) {
        const int reuse = 1;  // connections of an earlier server may linger in TIME_WAIT
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, type == SOCK_STREAM ? sizeof reuse : 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(wanted);
        socklen_t length = sizeof address;
        ok = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
             (type != SOCK_STREAM || ::listen(fd, 4) == 0) &&
             ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port = ntohs(address.sin_port);
    }
    ~HeldPort() { ::close(fd); }
    int fd;
    bool ok = false;
    std::uint16_t port = 0;
};

// A home folder of the test's own, so Downloads and the settings are the test's.
struct FreshHome {
    FreshHome() {
        environment.set("HOME", folder.str());
        environment.unset("XDG_CONFIG_HOME");
    }
    std::string str() const { return folder.str(); }
    test::TempDir folder;
    test::ScopedEnvironment environment;
};

class VeltoServerStart : public ::testing::Test {
  protected:
    VeltoServerStart() {
        // Free ports for UDP, TCP and TCP + 1, found by taking and letting go of them.
        for (bool found = false; !found;) {
            HeldPort tcp(SOCK_STREAM, 0), udp(SOCK_DGRAM, 0);
            HeldPort metadata(SOCK_STREAM, static_cast<std::uint16_t>(tcp.port + 1));
            found = tcp.ok && udp.ok && metadata.ok;
            tcpPort = tcp.port;
            udpPort = udp.port;
        }
    }
    std::vector<std::string> start() {
        std::vector<std::string> reported;
        server = std::make_shared<test::FakeWiredServer>(tcpPort, udpPort);
        server->setPortFailureHandler([&](const std::string& text) { reported.push_back(text); });
        server->startServer();
        return reported;
    }
    bool metadataAnswers() {
        const auto reply =
            test::exchangeRaw(static_cast<std::uint16_t>(tcpPort + 1), "GET / HTTP/1.1\r\n\r\n");
        return reply && reply->rfind("HTTP/1.1 400 Bad Request\r\n", 0) == 0;
    }
    bool transfersAccepted() {
        try {
            test::RawTcpPeer client(test::RawTcpPeer::To{tcpPort});
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    std::uint16_t tcpPort = 0, udpPort = 0;
    std::shared_ptr<test::FakeWiredServer> server;
};

TEST_F(VeltoServerStart, ReportsEveryPortThatCannotBeHadInOrderAndGoesOn) {
    {
        const HeldPort udp(SOCK_DGRAM, udpPort), tcp(SOCK_STREAM, tcpPort);
        const HeldPort metadata(SOCK_STREAM, static_cast<std::uint16_t>(tcpPort + 1));
        ASSERT_TRUE(udp.ok && tcp.ok && metadata.ok);
        EXPECT_EQ(start(), failureTexts);
    }
    server.reset();  // frees what it holds at once
    const HeldPort udp(SOCK_DGRAM, udpPort);
    EXPECT_EQ(start(), std::vector<std::string>{failureTexts[0]});
    EXPECT_TRUE(metadataAnswers());
    EXPECT_TRUE(transfersAccepted());
}

// Hears of incoming transfers weakly, so that the test sees when the server lets them go.
class WatchingIncomingDelegate : public test::RecordingIncomingDelegate {
  public:
    void incomingTransferWithCreated(VeltoIncomingTransfer& transfer) override {
        {
            std::lock_guard lock(mutex_);
            created_.push_back(transfer.weak_from_this());
        }
        RecordingIncomingDelegate::incomingTransferWithCreated(transfer);
    }
    std::vector<std::weak_ptr<VeltoIncomingTransfer>> created() const {
        std::lock_guard lock(mutex_);
        return created_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<VeltoIncomingTransfer>> created_;
};

TEST_F(VeltoServerStart, HoldsOnlyTransfersThatHaveNotEnded) {
    FreshHome home;
    ASSERT_TRUE(start().empty());
    auto incoming = std::make_shared<WatchingIncomingDelegate>();
    server->setIncomingDelegate(incoming);
    auto queue = DispatchQueue::create("outgoing");
    const VeltoPeer self("127.0.0.1", "127.0.0.1", tcpPort, "me", {});

    std::vector<std::weak_ptr<VeltoTransfer>> sent;
    for (std::size_t i = 1; i <= 3; ++i) {
        auto reports = std::make_shared<test::RecordingTransferDelegate>();
        auto transfer = VeltoTransfer::create(VeltoTransfer::itemsForText("hi"), self, queue);
        transfer->setDelegate(reports);
        server->startTransfer(transfer);
        sent.push_back(transfer);
        ASSERT_TRUE(reports->waitForEnd());
        ASSERT_EQ(reports->kinds().back(), "finished");
        for (int wait = 0; wait < 1000 && incoming->count("finished") < i; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(incoming->count("finished"), i);
    }
    queue->sync([] {});
    server->incomingDispatchQueue()->sync([] {});
    // Each start let go of the transfers that had ended before it, in both directions.
    const auto received = incoming->created();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_TRUE(sent[0].expired() && sent[1].expired());
    EXPECT_TRUE(received[0].expired() && received[1].expired());
}

// A stop ends what is arriving before anything else can start: a transfer halfway through a
// file is reported failed and leaves nothing in Downloads, and no connection is taken after.
TEST_F(VeltoServerStart, StoppingEndsTransfersUnderWayAndAcceptsNoMore) {
    FreshHome home;
    ASSERT_TRUE(start().empty());
    auto incoming = std::make_shared<test::RecordingIncomingDelegate>();
    server->setIncomingDelegate(incoming);
    test::RawTcpPeer sender(test::RawTcpPeer::To{tcpPort});
    using test::operator+;
    // Large enough to be written as it arrives; a small file is stored once it is in whole.
    ASSERT_TRUE(sender.send(test::streamHeader(2, 100'000) + test::folderElement("Album") +
                            test::element("Album/a.bin", 100'000, "half")));
    const std::filesystem::path downloads = home.str() + "/Downloads";
    const auto halfStored = [&] {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(downloads, error)) {
            if (std::filesystem::file_size(entry.path() / "Album/a.bin", error) == 4) {
                return true;
            }
        }
        return false;
    };
    for (int wait = 0; wait < 1000 && !halfStored(); ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(halfStored());

    EXPECT_TRUE(server->stopReceiving(std::chrono::steady_clock::now() + std::chrono::seconds(30)));
    EXPECT_EQ(incoming->kinds(), (std::vector<std::string>{"created", "progress", "failed"}));
    EXPECT_TRUE(std::filesystem::is_empty(downloads));
    EXPECT_TRUE(sender.closedByOtherSide());
    EXPECT_FALSE(transfersAccepted());
}

// A refused connection is closed before its first byte is read and nothing of it is created;
// what is let in lands in the receiving folder chosen, not in Downloads.
TEST_F(VeltoServerStart, RefusesByPolicyBeforeReadingAndStoresInTheChosenFolder) {
    FreshHome home;
    ASSERT_TRUE(start().empty());
    auto incoming = std::make_shared<test::RecordingIncomingDelegate>();
    server->setIncomingDelegate(incoming);
    const test::TempDir chosen;
    server->setReceivingFolder(chosen.str());
    using test::operator+;
    const Bytes oneFile = test::streamHeader(1, 2) + test::element("a.txt", 2, "hi");
    for (const auto& [policy, expected] : std::vector<std::pair<ReceivePolicy, std::string>>{
             {ReceivePolicy(ReceiveMode::Off, {}, {}), "refused"},
             {ReceivePolicy(ReceiveMode::TrustedOnly, {{"127.0.0.2", ""}}, {}), "refused"},
             {ReceivePolicy(ReceiveMode::Everyone, {}, {{"127.0.0.1", ""}}), "refused"},
             {ReceivePolicy(ReceiveMode::TrustedOnly, {{"127.0.0.1", ""}}, {}), "finished"}}) {
        server->setReceivePolicy(policy);
        test::RawTcpPeer sender(test::RawTcpPeer::To{tcpPort});
        sender.send(oneFile);
        EXPECT_TRUE(sender.closedByOtherSide());
        server->incomingDispatchQueue()->sync([] {});
        EXPECT_EQ(incoming->kinds().back(), expected);
    }
    EXPECT_EQ(incoming->count("created"), 1u);
    EXPECT_TRUE(std::filesystem::exists(chosen.path() / "a.txt"));
    EXPECT_FALSE(std::filesystem::exists(home.str() + "/Downloads/a.txt"));
}

// Sends items to the server under test; the sender's reports.
std::shared_ptr<test::RecordingTransferDelegate> sendToSelf(
    VeltoServer& server, std::uint16_t port, ItemList items,
    std::shared_ptr<test::RecordingTransferDelegate> reports =
        std::make_shared<test::RecordingTransferDelegate>()) {
    static const auto queue = DispatchQueue::create("outgoing");
    auto transfer = VeltoTransfer::create(
        std::move(items), VeltoPeer("127.0.0.1", "127.0.0.1", port, "me", {}), queue);
    transfer->setDelegate(reports);
    server.startTransfer(transfer);
    return reports;
}

bool nothingIn(const std::string& folder) {
    return !std::filesystem::exists(folder) || std::filesystem::is_empty(folder);
}

// In Ask mode files wait for the answer with nothing on disk and the sender held up (told that
// it waits), exempt from the read deadlines; a text is never asked about. Accepting goes on as
// usual; declining, or no answer by the deadline, keeps nothing, and the sender fails even
// though every byte of its small file had arrived.
TEST_F(VeltoServerStart, AsksBeforeStoringFilesAndGoesOnOrEndsAsAnswered) {
    FreshHome home;
    ASSERT_TRUE(start().empty());
    server->setReceivePolicy(ReceivePolicy(ReceiveMode::Ask, {}, {}));
    const std::string downloads = home.str() + "/Downloads";
    test::TempDir source;
    test::writeFile(source.str() + "/Album/big.bin", std::string(20'000'000, 'x'));
    test::writeFile(source.str() + "/small.txt", "small");

    auto textReceiver = std::make_shared<test::RecordingIncomingDelegate>();
    server->setIncomingDelegate(textReceiver);
    const auto text = sendToSelf(*server, tcpPort, VeltoTransfer::itemsForText("hi"));
    ASSERT_TRUE(text->waitForEnd() && textReceiver->waitForEnd());
    EXPECT_EQ(text->kinds().back(), "finished");
    EXPECT_EQ(textReceiver->count("question"), 0u);

    enum class Answer { accept, decline, none };
    for (const auto answer : {Answer::accept, Answer::decline, Answer::none}) {
        const int what = static_cast<int>(answer);
        if (answer == Answer::none) {
            home.environment.set("VELTO_QUESTION_TIMEOUT", "0.5");
        }
        auto incoming = std::make_shared<test::RecordingIncomingDelegate>();
        server->setIncomingDelegate(incoming);
        const bool album = answer == Answer::accept;
        const auto sender = sendToSelf(
            *server, tcpPort,
            VeltoTransfer::itemsForPaths({source.str() + "/" + (album ? "Album" : "small.txt")}));
        ASSERT_TRUE(test::waitUntil([&] { return incoming->count("question") == 1; })) << what;
        const auto asked = std::chrono::steady_clock::now();
        const auto question = incoming->reports().back();
        EXPECT_EQ(question.itemCount, album ? 2u : 1u) << what;
        EXPECT_EQ(question.byteCount, album ? 20'000'000u : 5u) << what;
        EXPECT_EQ(question.name, album ? "Album" : "small.txt") << what;
        EXPECT_EQ(question.path, "127.0.0.1") << what;
        if (answer == Answer::accept) {
            ASSERT_TRUE(test::waitUntil([&] { return !sender->waitingChanges().empty(); }));
            std::this_thread::sleep_until(
                asked +
                std::chrono::duration<double>(VeltoIncomingTransfer::headerReadTimeout + 1));
            EXPECT_EQ(incoming->count("failed") + sender->count("failed"), 0u);
            EXPECT_TRUE(nothingIn(downloads));
            incoming->asked().at(0)->accept();
        } else if (answer == Answer::decline) {
            EXPECT_TRUE(nothingIn(downloads));
            incoming->asked().at(0)->decline();
        }
        ASSERT_TRUE(sender->waitForEnd() && incoming->waitForEnd()) << what;
        if (answer == Answer::accept) {
            EXPECT_EQ(sender->kinds().back(), "finished");
            EXPECT_EQ(sender->waitingChanges(), (std::vector<bool>{true, false}));
            EXPECT_EQ(incoming->kinds().back(), "finished");
            EXPECT_EQ(test::treeOf(downloads + "/Album"), test::treeOf(source.str() + "/Album"));
            std::filesystem::remove_all(downloads + "/Album");
        } else {
            EXPECT_EQ(sender->kinds().back(), "failed") << what;
            EXPECT_EQ(incoming->reports().back().outcome, TransferOutcome::declined) << what;
            EXPECT_TRUE(nothingIn(downloads)) << what;
        }
    }
}

// One question per sender and eight in all: a stream beyond them is refused at once, and a
// place comes free when its question ends.
TEST_F(VeltoServerStart, RefusesQuestionsBeyondOnePerSenderAndEightInAll) {
    FreshHome home;
    ASSERT_TRUE(start().empty());
    server->setReceivePolicy(ReceivePolicy(ReceiveMode::Ask, {}, {}));
    auto incoming = std::make_shared<test::RecordingIncomingDelegate>();
    server->setIncomingDelegate(incoming);
    using test::operator+;
    const Bytes stream = test::streamHeader(1, 4) + test::element("a.txt", 4, "abcd");
    std::vector<std::unique_ptr<test::RawTcpPeer>> senders;
    const auto sendFrom = [&](const std::string& address) {
        senders.push_back(
            std::make_unique<test::RawTcpPeer>(test::RawTcpPeer::To{tcpPort, address.c_str()}));
        senders.back()->send(stream);
        return senders.back().get();
    };
    for (std::size_t i = 1; i <= 8; ++i) {
        sendFrom("127.0.0." + std::to_string(i));
        ASSERT_TRUE(test::waitUntil([&] { return incoming->count("question") == i; }));
    }
    EXPECT_TRUE(sendFrom("127.0.0.1")->closedByOtherSide());
    EXPECT_TRUE(sendFrom("127.0.0.9")->closedByOtherSide());
    ASSERT_TRUE(test::waitUntil([&] { return incoming->count("failed") == 2; }));
    for (const auto& report : incoming->reports()) {
        EXPECT_TRUE(report.kind != "failed" || report.outcome == TransferOutcome::refused);
    }
    incoming->asked().at(1)->decline();
    ASSERT_TRUE(test::waitUntil([&] { return incoming->count("failed") == 3; }));
    sendFrom("127.0.0.9");
    EXPECT_TRUE(test::waitUntil([&] { return incoming->count("question") == 9; }));
    EXPECT_TRUE(nothingIn(home.str() + "/Downloads"));
}

// Cancelling ends a transfer at once, from either side: that side says cancelled, the other
// failed, and nothing partial stays in Downloads.
TEST_F(VeltoServerStart, CancellingFromEitherSideKeepsNothing) {
    FreshHome home;
    ASSERT_TRUE(start().empty());
    test::TempDir source;
    test::writeFile(source.str() + "/big.bin", std::string(40'000'000, 'x'));
    for (const bool senderCancels : {true, false}) {
        auto incoming = std::make_shared<test::RecordingIncomingDelegate>();
        auto sender = std::make_shared<test::RecordingTransferDelegate>();
        if (senderCancels) {
            sender->onProgress = [](VeltoTransfer& transfer, std::uint64_t done) {
                if (done >= 20'000'000) {
                    transfer.cancel();
                }
            };
        } else {
            incoming->onProgress = [](VeltoIncomingTransfer& transfer, std::uint64_t done) {
                if (done >= VeltoIncomingTransfer::bodyReadSize) {
                    transfer.cancel();
                }
            };
        }
        server->setIncomingDelegate(incoming);
        sendToSelf(*server, tcpPort, VeltoTransfer::itemsForPaths({source.str() + "/big.bin"}),
                   sender);
        ASSERT_TRUE(sender->waitForEnd() && incoming->waitForEnd());
        server->incomingDispatchQueue()->sync([] {});
        EXPECT_EQ(sender->reports().back().outcome,
                  senderCancels ? TransferOutcome::cancelled : TransferOutcome::failed);
        EXPECT_EQ(incoming->reports().back().outcome,
                  senderCancels ? TransferOutcome::failed : TransferOutcome::cancelled);
        EXPECT_TRUE(nothingIn(home.str() + "/Downloads")) << senderCancels;
    }
}

}  // namespace
}  // namespace velto

#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "PeerChoice.h"
#include "ReceiveEventPrinter.h"
#include "TransferProgressBar.h"
#include "support/MemoryConnection.h"
#include "velto/TransferConnections.h"

namespace velto::cli {
namespace {

VeltoPeer peer(const std::string& ip, const std::string& signature, std::uint16_t port = 4644) {
    return VeltoPeer(ip, ip, port, signature, {});
}

TEST(PeerChoice, AddressOrTheOnePeerWhoseSignatureHoldsTheText) {
    const std::map<std::string, VeltoPeer> peers = {
        {"10.77.0.11", peer("10.77.0.11", "Ada Lovelace (velto-h1) (Linux)", 5000)},
        {"10.77.0.12", peer("10.77.0.12", "Alan Turing (velto-h2) (Linux)")},
    };
    EXPECT_EQ(PeerChoice::choose("10.77.0.11", peers).peer->port, 5000);  // known: its port
    EXPECT_EQ(PeerChoice::choose("10.77.0.99", peers).peer->port, 4644);
    EXPECT_EQ(PeerChoice::choose("TURING", peers).peer->ip, "10.77.0.12");
    const auto both = PeerChoice::choose("(Linux)", peers);
    EXPECT_FALSE(both.peer);
    EXPECT_EQ(both.candidates.size(), 2u);
    EXPECT_FALSE(PeerChoice::choose("Grace", peers).peer);
    EXPECT_FALSE(PeerChoice::choose("", peers).peer);
}

TEST(TransferProgressBar, ShowsShareRateAndTimeLeft) {
    const auto start = TransferProgressBar::Clock::now();
    const TransferProgressBar bar(start);
    EXPECT_EQ(bar.line(25'000'000, 100'000'000, start + std::chrono::seconds(5)),
              "[#######.......................]  25%  5.0 MB/s  ETA 0:15");
    EXPECT_EQ(bar.line(0, 0, start), "[##############################] 100%");
    EXPECT_EQ(TransferProgressBar::duration(std::chrono::seconds(3723)), "1:02:03");
}

std::vector<nlohmann::json> linesOf(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

TEST(ReceiveEventPrinter, JsonLinesCarryThePageEventsAndAddAnUnknownSender) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    PeerTable peers;
    auto printer = std::make_shared<ReceiveEventPrinter>(peers, true, nullptr, out, out);
    auto transfer = TransferConnections::receive(test::MemoryConnection::idle("10.77.0.13"), "K",
                                                 printer, testing::TempDir());
    printer->incomingTransferWithProgress(*transfer, 2, 0, 9, 0, std::nullopt, std::nullopt);
    printer->incomingTransferWithProgress(*transfer, 2, 1, 9, 4, "a", "/x/a");  // too soon
    printer->incomingTransferWithProgress(*transfer, 2, 2, 9, 9, "b", "/x/b");  // the last
    printer->incomingTransferWithReceivedFile(*transfer, "/d/Received");
    printer->incomingTransferWithFinished(*transfer);
    printer->incomingTransferWithFailed(*transfer);
    std::fclose(out);
    const auto lines = linesOf(std::string(buffer, size));
    std::free(buffer);

    std::vector<std::string> events;
    for (const auto& line : lines) {
        events.push_back(line["event"]);
        EXPECT_TRUE(line["event"] == "peer-added" || line["data"]["key"] == "K");
    }
    EXPECT_EQ(events,
              (std::vector<std::string>{"peer-added", "transfer-incoming", "transfer-progress",
                                        "transfer-progress", "transfer-incoming-file",
                                        "transfer-finished", "transfer-failed"}));
    EXPECT_EQ(lines[0]["data"]["peer"]["systemSignature"], "10.77.0.13");
    EXPECT_TRUE(peers.contains("10.77.0.13"));
    EXPECT_TRUE(lines[2]["data"]["filename"].is_null());
    EXPECT_EQ(lines[3]["data"]["byteFinished"], 9);
    EXPECT_EQ(lines[3]["data"]["isIncoming"], true);
    EXPECT_EQ(lines[4]["data"]["path"], "/d/Received");
}

}  // namespace
}  // namespace velto::cli

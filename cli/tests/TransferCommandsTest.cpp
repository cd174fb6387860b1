#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "PeerChoice.h"
#include "PeerListing.h"
#include "ReceiveEventPrinter.h"
#include "TransferProgressBar.h"
#include "velto/VeltoEvents.h"

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

TEST(PeerListing, TextHasOneAlignedRowPerPeer) {
    auto pictured = peer("10.77.0.12", "Ann at Office [Velto] (Linux)");
    pictured.avatar = "data:image/png;base64,UE5H";
    auto loading = peer("10.77.0.13", "Bo at Büro [Velto] (Linux)", 5000);
    loading.avatar = "loading";
    EXPECT_EQ(PeerListing::toText({{pictured.key, pictured}, {loading.key, loading}}),
              "KEY         PORT   AVATAR  SIGNATURE\n"
              "10.77.0.12  4644   yes     Ann at Office [Velto] (Linux)\n"
              "10.77.0.13  5000   no      Bo at Büro [Velto] (Linux)\n");
    EXPECT_EQ(PeerListing::toText({}), "No peers found.\n");
}

TEST(TransferProgressBar, ShowsShareRateAndTimeLeft) {
    const auto start = TransferProgressBar::Clock::now();
    const TransferProgressBar bar(start);
    EXPECT_EQ(bar.line(25'000'000, 100'000'000, start + std::chrono::seconds(5)),
              "[#######.......................]  25%  5.0 MB/s  ETA 0:15");
    EXPECT_EQ(bar.line(0, 0, start), "[##############################] 100%");
    EXPECT_EQ(TransferProgressBar::duration(std::chrono::seconds(3723)), "1:02:03");
}

VeltoEvent event(std::string name, nlohmann::json data, std::optional<VeltoPeer> sender = {}) {
    return {0, std::move(name), std::move(data), std::move(sender)};
}

// What the printer writes of the given events, standard output and errors together.
std::string printed(bool json, const std::vector<VeltoEvent>& events) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    ReceiveEventPrinter printer(json, nullptr, out, out);
    for (const auto& each : events) {
        printer.print(each);
    }
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

TEST(ReceiveEventPrinter, JsonLinesAreTheEventsWithProgressThinnedTextLinesNameTheSender) {
    const auto progress = [](int done) {  // of two items, without bytes
        return event("transfer-progress", {{"key", "K"}, {"itemCount", 2}, {"itemFinished", done}});
    };
    const std::vector<VeltoEvent> events = {
        progress(0),
        progress(1),  // too soon after the first
        progress(2),  // the last always comes
        event("transfer-incoming-file", {{"key", "K"}, {"path", "/d/Received"}},
              peer("10.77.0.13", "Ann")),
        event("transfer-finished", {{"key", "K"}}),
        progress(0),  // a new transfer under a key seen before is not held back
        event("transfer-incoming-text", {{"key", "L"}, {"text", "hi"}}),
        event("transfer-failed", {{"key", "L"}}),
    };
    std::string lines;
    for (const std::size_t shown : {0UL, 2UL, 3UL, 4UL, 5UL, 6UL, 7UL}) {
        lines += events[shown].envelope().dump() + "\n";
    }
    EXPECT_EQ(printed(true, events), lines);
    EXPECT_EQ(printed(false, events),
              "Received /d/Received from Ann (10.77.0.13)\n"
              "Received text from an unknown peer: hi\n"
              "A transfer from an unknown peer failed; nothing of it was kept\n");
}

}  // namespace
}  // namespace velto::cli

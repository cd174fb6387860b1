// An incoming transfer reading any byte stream, with its destination in a sandbox folder. It
// ends with exactly one of finished or failed, its reports stay in order and within the
// announced counts, nothing appears outside the destination, no intermediate folder outlives
// the transfer, and what it publishes is one entry of the destination or nothing at all.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/FuzzInput.h"
#include "support/MemoryConnection.h"
#include "velto/TransferConnections.h"

namespace fs = std::filesystem;
using velto::fuzz::require;

namespace {

constexpr std::string_view intermediatePrefix = ".VeltoTransferIntermediateStorage";

// The destination sits at the bottom of a chain of otherwise empty folders, and the working
// folder is one of them: a name that climbs out of the destination by any number of levels up
// to the chain's length, or that is resolved against the working folder, lands in a folder of
// the chain, where it is seen.
constexpr int chainLength = 8;

struct Sandbox {
    fs::path outer;               // the top of the chain
    fs::path root;                // the working folder, inside the chain
    fs::path downloads;           // the destination, the chain's last folder
    std::vector<fs::path> chain;  // every folder from outer to downloads' parent
};

Sandbox& sandbox() {
    static Sandbox box = [] {
        std::string pattern = (fs::temp_directory_path() / "velto-fuzz-stream.XXXXXX").string();
        require(::mkdtemp(pattern.data()) != nullptr, "a sandbox folder");
        Sandbox made;
        made.outer = pattern;
        fs::path folder = made.outer;
        for (int level = 0; level < chainLength; ++level) {
            made.chain.push_back(folder);
            folder /= "level" + std::to_string(level);
        }
        made.root = made.chain.back();
        made.downloads = folder;
        fs::create_directories(made.downloads);
        fs::current_path(made.root);
        return made;
    }();
    return box;
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class CheckingDelegate : public velto::VeltoIncomingTransferDelegate {
  public:
    bool created = false;
    int endings = 0;
    bool finished = false;
    std::optional<std::string> published;

    void incomingTransferWithCreated(velto::VeltoIncomingTransfer&) override {
        require(!created && endings == 0, "created comes first, once");
        created = true;
    }
    void incomingTransferWithFinished(velto::VeltoIncomingTransfer&) override {
        ending();
        finished = true;
    }
    void incomingTransferWithFailed(velto::VeltoIncomingTransfer&) override { ending(); }
    void incomingTransferWithProgress(velto::VeltoIncomingTransfer&, std::uint64_t itemCount,
                                      std::uint64_t itemFinished, std::uint64_t byteCount,
                                      std::uint64_t byteFinished, const std::optional<std::string>&,
                                      const std::optional<std::string>&) override {
        running("progress");
        require(itemFinished <= itemCount && byteFinished <= byteCount,
                "progress within the announced counts");
        require(itemFinished >= lastItems_ && byteFinished >= lastBytes_,
                "progress never goes back");
        lastItems_ = itemFinished;
        lastBytes_ = byteFinished;
    }
    void incomingTransferWithReceivedText(velto::VeltoIncomingTransfer&,
                                          const std::string&) override {
        running("received text");
        require(!text_, "one text per transfer");
        text_ = true;
    }
    void incomingTransferWithReceivedFile(velto::VeltoIncomingTransfer&,
                                          const std::string& path) override {
        running("received file");
        require(!published, "one published result per transfer");
        require(fs::path(path).parent_path() == sandbox().downloads,
                "the result is published straight into the destination");
        require(fs::symlink_status(path).type() != fs::file_type::not_found,
                "the published result exists");
        published = path;
    }

  private:
    void running(std::string_view report) { require(created && endings == 0, report); }
    void ending() {
        require(created && endings == 0, "one ending, after created");
        ++endings;
    }
    std::uint64_t lastItems_ = 0;
    std::uint64_t lastBytes_ = 0;
    bool text_ = false;
};

void checkSandboxAfter(const CheckingDelegate& delegate) {
    const Sandbox& box = sandbox();
    for (std::size_t level = 0; level < box.chain.size(); ++level) {
        const fs::path next = level + 1 < box.chain.size() ? box.chain[level + 1] : box.downloads;
        require(entriesOf(box.chain[level]) == std::vector<std::string>{next.filename().string()},
                "nothing is written outside the destination");
    }
    const auto entries = entriesOf(box.downloads);
    for (const auto& name : entries) {
        require(name.rfind(intermediatePrefix, 0) != 0,
                "no intermediate folder outlives its transfer");
    }
    if (delegate.finished && delegate.published) {
        require(entries.size() == 1 &&
                    entries.front() == fs::path(*delegate.published).filename().string(),
                "the published result is all the destination holds");
    } else {
        require(entries.empty(), "a transfer without a result leaves nothing behind");
    }
    for (const auto& entry : fs::recursive_directory_iterator(box.downloads)) {
        require(!entry.is_symlink(), "no links among received items");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velto::fuzz::silenceDiagnostics();
    sandbox();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Sandbox& box = sandbox();
    // Small pieces: every read longer than that hears of its bytes in parts first.
    auto connection = velto::test::MemoryConnection::create(
        std::make_shared<const velto::Bytes>(data, data + size), 7, nullptr, "10.77.0.20");
    auto delegate = std::make_shared<CheckingDelegate>();
    {
        auto transfer =
            velto::TransferConnections::receive(connection, "fuzz", delegate, box.downloads);
        connection->run();
        require(delegate->endings == 1, "every stream ends in finished or failed");
        require(connection->bytesWritten() == 0, "the receiving side never writes");
        require(connection->maxReadsInFlight() <=
                    static_cast<std::size_t>(velto::VeltoIncomingTransfer::maxBodyReadsInFlight),
                "at most four reads outstanding");
    }
    checkSandboxAfter(*delegate);
    for (const auto& entry : fs::directory_iterator(box.downloads)) {
        fs::remove_all(entry.path());
    }
    return 0;
}

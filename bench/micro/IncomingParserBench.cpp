// The incoming side above the socket: parser and storage on an in-memory stream delivered the
// way the real socket delivers it (pieces of 64 KiB, reads served in one loop). Set TMPDIR to
// a tmpfs to leave the disk out of the figures.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "support/BenchDelegates.h"
#include "support/MemoryConnection.h"
#include "support/SampleTree.h"
#include "support/TempDir.h"
#include "velto/Diagnostics.h"
#include "velto/TransferConnections.h"

namespace {

using namespace velto;
using test::MemoryConnection;

constexpr std::size_t socketPiece = 64 * 1024;

// Runs one incoming transfer of stream into destination; false when it failed.
bool receive(const std::shared_ptr<DispatchQueue>& queue,
             const std::shared_ptr<const Bytes>& stream, const std::string& destination,
             std::string& published) {
    auto delegate = std::make_shared<bench::IncomingOutcome>();
    auto outcome = delegate->outcome();
    auto connection = MemoryConnection::create(stream, socketPiece, queue);
    std::shared_ptr<VeltoIncomingTransfer> transfer;
    queue->sync([&] {
        transfer = TransferConnections::receive(connection, "bench", delegate, destination);
    });
    const auto path = outcome.get();
    queue->sync([&] { transfer.reset(); });
    published = path.value_or("");
    return path.has_value();
}

void runTree(benchmark::State& state, const bench::TreeShape& shape) {
    setDiagnosticsEnabled(false);
    const test::TempDir destination;
    const auto stream = std::make_shared<const Bytes>(bench::sampleTreeStream(shape));
    const auto queue = DispatchQueue::create("incoming");
    for (auto _ : state) {
        std::string published;
        if (!receive(queue, stream, destination.str(), published)) {
            state.SkipWithError("the transfer failed");
            break;
        }
        state.PauseTiming();
        std::filesystem::remove_all(published);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(shape.elementCount()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream->size()));
}

// 10,000 files of 4 KiB in 100 folders: the per-element costs dominate.
void BM_IncomingSmallFiles(benchmark::State& state) {
    runTree(state, {static_cast<std::size_t>(state.range(0)), 100, 4096});
}
BENCHMARK(BM_IncomingSmallFiles)->Arg(10'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Empty files: element names, sizes and file creation only.
void BM_IncomingEmptyFiles(benchmark::State& state) {
    runTree(state, {static_cast<std::size_t>(state.range(0)), 100, 0});
}
BENCHMARK(BM_IncomingEmptyFiles)->Arg(10'000)->Unit(benchmark::kMillisecond)->UseRealTime();

// One large body: reads of 10 MiB, partial reports, file writes.
void BM_IncomingLargeFile(benchmark::State& state) {
    runTree(state, {1, 1, static_cast<std::size_t>(state.range(0)) << 20});
}
BENCHMARK(BM_IncomingLargeFile)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

// The sending side above the socket: element list, chunk reading and the write sequence of an
// outgoing transfer, into a connection that takes every write at once.
#include <benchmark/benchmark.h>

#include "core/ChunkPool.h"
#include "support/BenchDelegates.h"
#include "support/MemoryConnection.h"
#include "support/SampleTree.h"
#include "support/TempDir.h"
#include "velto/Diagnostics.h"
#include "velto/TransferConnections.h"

namespace {

using namespace velto;
using test::MemoryConnection;

constexpr std::size_t socketPiece = 256 * 1024;  // what one send of a busy socket takes

bool send(const ItemList& items, std::uint64_t& written) {
    const auto queue = DispatchQueue::create("outgoing");
    const auto none = std::make_shared<const Bytes>();
    std::shared_ptr<MemoryConnection> connection;
    auto transfer = VeltoTransfer::create(items, VeltoPeer{}, queue);
    TransferConnections::connectThrough(
        *transfer,
        [&](std::weak_ptr<TcpConnectionDelegate> delegate, std::shared_ptr<DispatchQueue> q) {
            connection = MemoryConnection::create(none, socketPiece, std::move(q));
            // Written buffers go back to the pool, as the real socket gives them once out.
            connection->setWriteSink([](Bytes data) { ChunkPool::give(std::move(data)); });
            connection->setDelegate(std::move(delegate));
            return connection;
        });
    auto delegate = std::make_shared<bench::OutgoingOutcome>();
    auto outcome = delegate->outcome();
    transfer->setDelegate(delegate);
    transfer->start();
    const bool finished = outcome.get();
    queue->sync([&] { written = connection->bytesWritten(); });
    return finished;
}

void runPaths(benchmark::State& state, const std::string& path, std::uint64_t elements) {
    setDiagnosticsEnabled(false);
    std::uint64_t written = 0;
    for (auto _ : state) {
        const ItemList items = VeltoTransfer::itemsForPaths({path});
        if (items.size() != elements || !send(items, written)) {
            state.SkipWithError("the transfer failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(elements));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(written));
}

void BM_OutgoingSmallFiles(benchmark::State& state) {
    const test::TempDir source;
    const bench::TreeShape shape{static_cast<std::size_t>(state.range(0)), 100, 4096};
    runPaths(state, bench::writeSampleTree(source.str(), shape), shape.elementCount());
}
BENCHMARK(BM_OutgoingSmallFiles)->Arg(10'000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OutgoingLargeFile(benchmark::State& state) {
    const test::TempDir source;
    const std::string file = bench::writeSampleFile(
        source.str(), "large.bin", static_cast<std::uint64_t>(state.range(0)) << 20);
    runPaths(state, file, 1);
}
BENCHMARK(BM_OutgoingLargeFile)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

// Listing the tree into elements, without sending.
void BM_ItemsForPaths(benchmark::State& state) {
    const test::TempDir source;
    const bench::TreeShape shape{static_cast<std::size_t>(state.range(0)), 100, 4096};
    const std::string root = bench::writeSampleTree(source.str(), shape);
    for (auto _ : state) {
        benchmark::DoNotOptimize(VeltoTransfer::itemsForPaths({root}));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(shape.elementCount()));
}
BENCHMARK(BM_ItemsForPaths)->Arg(10'000)->Unit(benchmark::kMillisecond);

}  // namespace

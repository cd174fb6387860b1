// Reading file bodies: the 10 MiB chunks of a large file, and the single chunk of a small one
// (where opening and checking the file is most of the cost).
#include <benchmark/benchmark.h>

#include <vector>

#include "support/SampleTree.h"
#include "support/TempDir.h"
#include "velto/VeltoFile.h"

namespace {

using namespace velto;

void BM_LargeFileChunks(benchmark::State& state) {
    const test::TempDir source;
    const std::uint64_t size = static_cast<std::uint64_t>(state.range(0)) << 20;
    const std::string path = bench::writeSampleFile(source.str(), "large.bin", size);
    for (auto _ : state) {
        VeltoFile file(path);
        std::uint64_t read = 0;
        while (read < size) {
            const Bytes chunk = file.nextChunk();
            if (chunk.empty()) {
                state.SkipWithError(file.readFailure().c_str());
                return;
            }
            read += chunk.size();
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_LargeFileChunks)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SmallFileChunk(benchmark::State& state) {
    const test::TempDir source;
    const auto size = static_cast<std::uint64_t>(state.range(0));
    std::vector<std::string> paths;
    for (int i = 0; i < 1000; ++i) {
        paths.push_back(bench::writeSampleFile(source.str(), "f" + std::to_string(i), size));
    }
    std::size_t next = 0;
    for (auto _ : state) {
        VeltoFile file(paths[next]);
        next = (next + 1) % paths.size();
        const Bytes chunk = file.nextChunk();
        if (chunk.size() != size) {
            state.SkipWithError("a short chunk");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_SmallFileChunk)->Arg(4096);

}  // namespace

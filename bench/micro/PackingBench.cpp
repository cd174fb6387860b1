// Element and stream headers: built once per element on the sending side, read once per element
// on the receiving side. The generic packing language is measured beside the fast forms.
#include <benchmark/benchmark.h>

#include "velto/BinUtils.h"
#include "velto/VeltoDir.h"
#include "velto/VeltoText.h"

namespace {

using namespace velto;

void BM_ElementHeader(benchmark::State& state) {
    const VeltoDir folder("/home/a/Photos/2016/summer", "Photos/2016/summer/IMG_0042.jpg");
    for (auto _ : state) {
        benchmark::DoNotOptimize(folder.header());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ElementHeader);

void BM_StreamHeaderPack(benchmark::State& state) {
    std::uint64_t count = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(packLittleEndianUInt64Pair(count++, 1'073'741'824));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamHeaderPack);

void BM_StreamHeaderPackGeneric(benchmark::State& state) {
    std::uint64_t count = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pack("<QQ", {PackUInt64{count++}, PackUInt64{1'073'741'824}}));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamHeaderPackGeneric);

void BM_ElementSizeUnpack(benchmark::State& state) {
    const Bytes size = packLittleEndianUInt64(4096);
    for (auto _ : state) {
        benchmark::DoNotOptimize(unpackLittleEndianUInt64(size));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ElementSizeUnpack);

void BM_ElementSizeUnpackGeneric(benchmark::State& state) {
    const Bytes size = packLittleEndianUInt64(4096);
    for (auto _ : state) {
        benchmark::DoNotOptimize(unpack("<Q", size));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ElementSizeUnpackGeneric);

void BM_StreamHeaderUnpack(benchmark::State& state) {
    const Bytes header = packLittleEndianUInt64Pair(10'101, 40'960'000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(unpackLittleEndianUInt64Pair(header));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StreamHeaderUnpack);

}  // namespace

// Content-defined chunking speed on one core, default parameters, over 1 GiB of
// pseudo-random bytes generated in memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "core/Bytes.h"
#include "format/Chunker.h"
#include "format/RepositoryFormat.h"

namespace {

const wm::Bytes& gibibyte() {
    static const wm::Bytes data = [] {
        wm::Bytes b(std::size_t{1} << 30);
        std::uint64_t s = 0x243F6A8885A308D3ULL;
        for (std::size_t i = 0; i < b.size(); i += 8) {
            // xorshift64*: fast, and random enough that cuts fall where real data puts them.
            s ^= s >> 12;
            s ^= s << 25;
            s ^= s >> 27;
            const std::uint64_t v = s * 0x2545F4914F6CDD1DULL;
            std::memcpy(b.data() + i, &v, 8);
        }
        return b;
    }();
    return data;
}

void BM_ChunkerSplitDefault(benchmark::State& state) {
    const wm::Bytes& data = gibibyte();
    const wm::Chunker chunker(wm::RepositoryFormat::chunkMinBytes, wm::RepositoryFormat::chunkAvgBytes,
                              wm::RepositoryFormat::chunkMaxBytes, 2);
    std::size_t chunks = 0;
    for (auto _ : state) {
        const auto ranges = chunker.split(data);
        chunks = ranges.size();
        benchmark::DoNotOptimize(ranges.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
    state.counters["chunks"] = static_cast<double>(chunks);
    state.counters["meanChunkKiB"] = static_cast<double>(data.size()) / static_cast<double>(chunks) / 1024.0;
}
BENCHMARK(BM_ChunkerSplitDefault)->Unit(benchmark::kMillisecond)->Iterations(5);

// The scanning loop alone, without minimum-size skipping: every byte is hashed.
void BM_ChunkerScanEveryByte(benchmark::State& state) {
    const wm::Bytes& data = gibibyte();
    const wm::Chunker chunker(1, 1ll << 40, 1ll << 40, 0);  // a cut is practically never found
    for (auto _ : state) {
        std::int64_t total = 0;
        for (std::size_t at = 0; at < data.size();) {
            const auto n =
                chunker.nextBoundary(wm::ByteView(data).subspan(at, std::min<std::size_t>(data.size() - at, 64 << 20)));
            total += n;
            at += static_cast<std::size_t>(n);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_ChunkerScanEveryByte)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

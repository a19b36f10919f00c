// Local-folder destination: ranged blob reads out of a large pack (allocating read() and
// readInto() into a reused buffer), and durable writes (temporary file, fsync, rename,
// folder fsync) of pack-sized and record-sized objects.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <random>

#include "Scratch.h"
#include "storage/LocalFolderDestination.h"

namespace {

using wm::bench::Scratch;

constexpr std::int64_t kPackBytes = 64 << 20;

struct PackFixture {
    Scratch scratch;
    std::shared_ptr<wm::LocalFolderDestination> destination;
    wm::RepoPath pack = wm::RepoPath() / "packs" / "ab" / "ab.pack";
    PackFixture() {
        destination = std::make_shared<wm::LocalFolderDestination>(
            wm::DestinationID::random(), wm::DestinationKind::localFolder(), scratch.path, std::nullopt,
            wm::LocalFolderDestination::Preparation::preparing());
        wm::Bytes data(kPackBytes, 0x5A);
        auto w = destination->openWrite(pack);
        w->write(data);
        w->commit();
    }
};

PackFixture& fixture() {
    static PackFixture f;
    return f;
}

void BM_RangedRead(benchmark::State& state) {
    auto& f = fixture();
    const std::int64_t blob = state.range(0);
    std::mt19937_64 random(1);
    for (auto _ : state) {
        const std::int64_t offset = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(kPackBytes - blob));
        auto bytes = f.destination->read(f.pack, wm::ByteRange{offset, offset + blob});
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * blob);
}
BENCHMARK(BM_RangedRead)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

void BM_ReadIntoReusedBuffer(benchmark::State& state) {
    auto& f = fixture();
    const std::int64_t blob = state.range(0);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(blob));
    std::mt19937_64 random(1);
    for (auto _ : state) {
        const std::int64_t offset = static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(kPackBytes - blob));
        f.destination->readInto(f.pack, offset, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * blob);
}
BENCHMARK(BM_ReadIntoReusedBuffer)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

void BM_DurableWrite(benchmark::State& state) {
    Scratch scratch;
    auto destination = std::make_shared<wm::LocalFolderDestination>(
        wm::DestinationID::random(), wm::DestinationKind::localFolder(), scratch.path, std::nullopt,
        wm::LocalFolderDestination::Preparation::preparing());
    wm::Bytes data(static_cast<std::size_t>(state.range(0)), 0x33);
    int n = 0;
    for (auto _ : state) {
        auto w = destination->openWrite(wm::RepoPath() / "index" / ("f" + std::to_string(n++ % 8)));
        w->write(data);
        w->commit();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DurableWrite)->Arg(1 << 10)->Arg(16 << 20)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

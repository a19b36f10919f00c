// Storing new chunks into a repository on a local folder: 1 MiB chunks, incompressible and
// compressible, stored one at a time on the calling thread (store), in batches sealed on the
// pool (storeChunks), and in batches from two threads at once (the backup tool's way: one
// call waits for the pack it filled while the other goes on), packs written, read back and
// verified, the last pack sealed by a commit. Every chunk is new. The amount is 2 GiB per
// run; WM_BENCH_STORE_MIB sets another.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Scratch.h"
#include "core/WorkerPool.h"
#include "crypto/SecureRandom.h"
#include "crypto/SymmetricKey.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "storage/LocalFolderDestination.h"

namespace {

using namespace wm;

constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kBatch = 256;  // four packs of chunks per call

std::size_t totalMiB() {
    if (const char* text = std::getenv("WM_BENCH_STORE_MIB")) {
        const long value = std::strtol(text, nullptr, 10);
        if (value > 0) return static_cast<std::size_t>(value);
    }
    return 2048;
}

using wm::bench::Scratch;

// 256 MiB of source bytes; chunk i is a 1 MiB window of it with i written into its first
// bytes, so that no two chunks are the same.
const Bytes& pool(bool compressible) {
    static const Bytes random = [] {
        Bytes b(256u << 20);
        std::mt19937_64 g(7);
        for (std::size_t i = 0; i + 8 <= b.size(); i += 8) {
            const std::uint64_t v = g();
            std::memcpy(b.data() + i, &v, 8);
        }
        return b;
    }();
    static const Bytes text = [] {
        // Log-like lines: a fixed vocabulary with varying numbers compresses about 3 to 5 times.
        static const char* words[] = {"backup",   "snapshot", "folder", "file",    "chunk",  "pack",   "index",
                                      "verified", "written",  "read",   "skipped", "stored", "device", "volume"};
        std::mt19937_64 g(11);
        std::string s;
        s.reserve(256u << 20);
        while (s.size() < (256u << 20)) {
            s += "2026-12-06T21:";
            s += std::to_string(g() % 60);
            s += " ";
            for (int w = 0; w < 8; ++w) {
                s += words[g() % 14];
                s += ' ';
            }
            s += std::to_string(g() % 100000);
            s += '\n';
        }
        s.resize(256u << 20);
        return Bytes(s.begin(), s.end());
    }();
    return compressible ? text : random;
}

std::shared_ptr<Repository> makeRepository(const Scratch& scratch) {
    auto destination =
        std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), scratch.path,
                                                 std::nullopt, LocalFolderDestination::Preparation::preparing());
    RepositoryID id;
    SecureRandom::fill(id.bytes);
    const RepositoryKeys keys(SymmetricKey::random(), id);
    DeviceID device;
    SecureRandom::fill(device.bytes);
    return Repository::create(destination, keys, device, "bench", std::nullopt, 2, Date::now());
}

// Each caller fills its own batches and stores them; callers 0 stores chunk by chunk.
void run(benchmark::State& state, bool compressible, int callers) {
    const Bytes& source = pool(compressible);
    const std::size_t chunks = totalMiB() * (1 << 20) / kChunk;
    const std::size_t windows = source.size() / kChunk;
    std::atomic<std::uint64_t> serial{0};
    for (auto _ : state) {
        state.PauseTiming();
        Scratch scratch;
        auto repository = makeRepository(scratch);
        const std::size_t threads = std::max(callers, 1);
        std::vector<std::vector<Bytes>> batches(threads, std::vector<Bytes>(kBatch, Bytes(kChunk)));
        state.ResumeTiming();

        auto storeShare = [&](std::size_t caller) {
            std::vector<Bytes>& batch = batches[caller];
            const std::size_t share = chunks / threads + (caller < chunks % threads ? 1 : 0);
            for (std::size_t done = 0; done < share;) {
                const std::size_t n = std::min(kBatch, share - done);
                for (std::size_t k = 0; k < n; ++k) {
                    const std::uint64_t number = ++serial;
                    std::memcpy(batch[k].data(), source.data() + number % windows * kChunk, kChunk);
                    std::memcpy(batch[k].data(), &number, sizeof number);
                }
                if (callers > 0) {
                    std::vector<ByteView> views(batch.begin(), batch.begin() + static_cast<std::ptrdiff_t>(n));
                    benchmark::DoNotOptimize(repository->storeChunks(std::span<const ByteView>(views), BlobType::data));
                } else {
                    for (std::size_t k = 0; k < n; ++k)
                        benchmark::DoNotOptimize(repository->store(batch[k], BlobType::data));
                }
                done += n;
            }
        };
        std::vector<std::thread> others;
        for (std::size_t caller = 1; caller < threads; ++caller) others.emplace_back(storeShare, caller);
        storeShare(0);
        for (auto& thread : others) thread.join();
        repository->commit({BlobID{}, {}, {}, {}, "bench", {}, std::nullopt, Date::now()});

        state.PauseTiming();
        repository.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunks * kChunk));
    state.counters["sealers"] = callers > 0 ? callers * PackStore::sealingWidth(activeProcessorCount()) : 1;
}

void BM_StoreIncompressibleOneThread(benchmark::State& state) { run(state, false, 0); }
void BM_StoreIncompressiblePool(benchmark::State& state) { run(state, false, 1); }
void BM_StoreIncompressibleTwoCallers(benchmark::State& state) { run(state, false, 2); }
void BM_StoreCompressibleOneThread(benchmark::State& state) { run(state, true, 0); }
void BM_StoreCompressiblePool(benchmark::State& state) { run(state, true, 1); }
void BM_StoreCompressibleTwoCallers(benchmark::State& state) { run(state, true, 2); }

BENCHMARK(BM_StoreIncompressibleOneThread)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_StoreIncompressiblePool)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_StoreIncompressibleTwoCallers)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_StoreCompressibleOneThread)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_StoreCompressiblePool)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_StoreCompressibleTwoCallers)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

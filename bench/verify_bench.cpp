// Deep verification of a repository on a local folder: every pack streamed through
// SHA-256 and its directory opened, one pack at a time on one thread.
//
// The repository (4 GiB of packs by default; WM_VERIFY_BENCH_GIB sets another size) is
// generated once in a temporary folder and removed when the run ends. Pack contents are
// random bytes standing in for sealed blobs: verification hashes them and opens only the
// directory, so nothing else about them matters. The files were just written, so they are
// read from the page cache: the figure is the verifier's own speed, not the disk's.
//   bench_verify --benchmark_filter=Deep
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>

#include "crypto/PackHashing.h"
#include "crypto/SymmetricKey.h"
#include "engine/Repository.h"
#include "engine/Verification.h"
#include "format/IndexFile.h"
#include "format/PackVerification.h"
#include "format/PackWriter.h"
#include "format/RepositoryLayout.h"
#include "storage/LocalFolderDestination.h"

namespace wm {
namespace {

constexpr std::size_t mebibyte = std::size_t{1} << 20;

struct BenchRepository {
    std::filesystem::path folder;
    std::shared_ptr<Repository> repository;
    std::uint64_t packBytes = 0;
    std::size_t packs = 0;

    ~BenchRepository() {
        repository.reset();
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

void fillRandom(Bytes& bytes, std::mt19937_64& rng) {
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(bytes.data() + i, &v, 8);
    }
}

std::unique_ptr<BenchRepository> generate(std::uint64_t totalBytes) {
    auto bench = std::make_unique<BenchRepository>();
    bench->folder = std::filesystem::temp_directory_path() / ("wm-verify-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(bench->folder);
    auto destination = std::make_shared<LocalFolderDestination>(
        DestinationID::random(), DestinationKind::localFolder(), bench->folder, std::nullopt,
        LocalFolderDestination::Preparation::preparing(RepositoryLayout::requiredDirectories()));
    RepositoryID id;
    id.bytes = SymmetricKey::random().bytes;
    const RepositoryKeys keys(SymmetricKey::random(), id);
    DeviceID device;
    device.bytes.fill(7);
    Repository::create(destination, keys, device, "bench", std::nullopt, 2, Date::now());
    const BlobCipher cipher(keys, BlobCipher::Sealing::nonceFromStoredBytes);

    // Full packs of sixteen 4 MiB blobs, as a backup of large files makes them.
    std::mt19937_64 rng(42);
    Bytes blob(4 * mebibyte);
    std::vector<IndexFile::Section> sections;
    std::uint64_t written = 0;
    while (written < totalBytes) {
        PackWriter writer(cipher);
        while (!writer.isFull() && written + writer.byteCount() < totalBytes) {
            fillRandom(blob, rng);
            BlobID blobID;
            std::memcpy(blobID.bytes.data(), blob.data(), blobID.bytes.size());
            writer.addSealed(blobID, BlobType::data, blob);
        }
        auto pack = writer.finish();
        Repository::write(pack.bytes, RepositoryLayout::pack(pack.id), *destination);
        written += pack.bytes.size();
        sections.push_back({pack.id, pack.entries});
    }
    Repository::write(cipher.sealMetadata(IndexFile::encode(sections)), RepositoryLayout::index(UUID::random()),
                      *destination);
    bench->packBytes = written;
    bench->packs = sections.size();
    bench->repository =
        Repository::open(destination, keys, device, "bench", std::nullopt, Repository::Access::readOnly).repository;
    return bench;
}

BenchRepository& benchRepository() {
    static std::unique_ptr<BenchRepository> bench = [] {
        double gib = 4;
        if (const char* text = std::getenv("WM_VERIFY_BENCH_GIB")) gib = std::atof(text);
        const auto started = std::chrono::steady_clock::now();
        auto b = generate(static_cast<std::uint64_t>(gib * 1024 * mebibyte));
        std::cerr << "generated " << b->packs << " packs, " << b->packBytes << " bytes, in "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() << " s\n";
        return b;
    }();
    return *bench;
}

void BM_DeepVerification(benchmark::State& state) {
    BenchRepository& bench = benchRepository();
    for (auto _ : state) {
        const auto report = verify(*bench.repository, Verification::Depth::deep(), Date::now());
        if (!report.isFullyVerified() || report.bytesRead != bench.packBytes) {
            state.SkipWithError("verification did not read every pack cleanly");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bench.packBytes));
    state.counters["packs"] = static_cast<double>(bench.packs);
}
BENCHMARK(BM_DeepVerification)->Unit(benchmark::kMillisecond)->MinTime(5)->UseRealTime();

// A tenth of the packs, as a routine check would read them.
void BM_SampledVerification(benchmark::State& state) {
    BenchRepository& bench = benchRepository();
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes += verify(*bench.repository, Verification::Depth::sampling(0.1), Date::now()).bytesRead;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_SampledVerification)->Unit(benchmark::kMillisecond)->UseRealTime();

// The verifier over one pack held in memory: hashing and the directory, without the file reads.
void BM_PackVerifierInMemory(benchmark::State& state) {
    RepositoryID id;
    const RepositoryKeys keys(SymmetricKey::random(), id);
    const BlobCipher cipher(keys, BlobCipher::Sealing::nonceFromStoredBytes);
    PackWriter writer(cipher);
    std::mt19937_64 rng(1);
    Bytes blob(4 * mebibyte);
    for (int i = 0; i < 16; ++i) {
        fillRandom(blob, rng);
        BlobID blobID;
        std::memcpy(blobID.bytes.data(), blob.data(), blobID.bytes.size());
        writer.addSealed(blobID, BlobType::data, blob);
    }
    const auto pack = writer.finish();
    PackVerifier verifier(cipher, static_cast<std::size_t>(state.range(0)) * 1024);
    for (auto _ : state) benchmark::DoNotOptimize(verifier.check(pack.bytes, pack.id));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pack.bytes.size()));
}
// By the size of the pieces read, in KiB.
BENCHMARK(BM_PackVerifierInMemory)->Unit(benchmark::kMillisecond)->Arg(256)->Arg(1024)->Arg(4096);

// SHA-256 alone over the same 64 MiB, for comparison.
void BM_SHA256(benchmark::State& state) {
    Bytes data(64 * mebibyte);
    std::mt19937_64 rng(3);
    fillRandom(data, rng);
    for (auto _ : state) benchmark::DoNotOptimize(hashPackID(data));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_SHA256)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace wm

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;  // the generated repository is removed as the process ends
}

// Deep verification of a repository on a local folder: every pack streamed through
// SHA-256 and its directory opened, one pack at a time on one thread.
//
// The repository (4 GiB of packs by default; WM_VERIFY_BENCH_GIB sets another size) is
// generated once in a temporary folder and removed when the run ends. Pack contents are
// random bytes standing in for sealed blobs: verification hashes them and opens only the
// directory, so nothing else about them matters. The files were just written, so they are
// read from the page cache: the figure is the verifier's own speed, not the disk's.
//   bench_verify --benchmark_filter=Deep
//
// What damage costs, traced through small repositories in /dev/shm (when present), each blob
// in a pack of its own, one pack cut short:
//   DeepVerificationSharedLevels/L/K
//                   L levels of two folders naming one tree, above one file: L + 1 trees,
//                   2^L paths to the file. K = 0: the file's content pack is cut short;
//                   K = 1: the pack of the tree holding the file is.
//   DeepVerificationRepeatedHead/N
//                   a head that lists one snapshot N times, the snapshot's source path
//                   300,000 bytes; its file's content pack is cut short.
//   DeepVerificationManyPacks/L/P
//                   L levels of one folder, each with a 16-byte name, above a tree of P
//                   folders, each naming a tree whose pack is missing: P damaged packs, each
//                   reached through all L levels.
// The counter "peakMiB" is the process's peak resident size so far.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
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
#include "format/SignedFile.h"
#include "format/TreeObject.h"
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

// --- small repositories whose damage is reached through many paths ---

std::filesystem::path memoryBase() {
    return std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
}

double peakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

TreeObject::Entry benchEntry(const std::string& name, std::optional<BlobID> tree, std::vector<BlobID> content) {
    TreeObject::Entry entry;
    entry.name = bytesOf(name);
    entry.entryType = tree ? TreeObject::EntryType::directory : TreeObject::EntryType::file;
    entry.mode = tree ? 040755 : 0100644;
    entry.childTree = tree;
    if (!tree) entry.contentBlobs = std::move(content);
    return entry;
}

// A repository in memory-backed storage with one blob per pack.
struct DamagedRepository {
    BenchRepository folder;
    RepositoryKeys keys{SymmetricKey::random(), RepositoryID{}};
    std::shared_ptr<Destination> destination;
    std::shared_ptr<Repository> repository;
    DeviceID device;

    explicit DamagedRepository(const std::string& name) {
        folder.folder = memoryBase() / (name + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder.folder);
        std::filesystem::create_directories(folder.folder);
        destination = std::make_shared<LocalFolderDestination>(
            DestinationID::random(), DestinationKind::localFolder(), folder.folder, std::nullopt,
            LocalFolderDestination::Preparation::preparing(RepositoryLayout::requiredDirectories()));
        device.bytes.fill(7);
        repository = Repository::create(destination, keys, device, "bench", std::nullopt, 2, Date::now());
        repository->setPackBlobLimitForTesting(1);
    }
    BlobID store(ByteView bytes, BlobType type) { return repository->store(bytes, type).id; }
    std::filesystem::path packPath(const BlobID& blob) const {
        const auto pack = repository->withIndex([&](const CompactIndex& index) { return index.location(blob); });
        return folder.folder / RepositoryLayout::pack(pack->pack).string();
    }
    // Cuts the pack holding the blob to half its length, then opens the repository read-only.
    void cutShortAndReopen(const BlobID& blob) {
        const auto path = packPath(blob);
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        reopen();
    }
    void reopen() {
        repository =
            Repository::open(destination, keys, device, "bench", std::nullopt, Repository::Access::readOnly).repository;
    }
};

void verifyDamaged(benchmark::State& state, Repository& repository, std::int64_t files, std::int64_t subtrees) {
    for (auto _ : state) {
        const auto report = verify(repository, Verification::Depth::deep(), Date::now());
        if (report.damaged.size() != 1 || report.damaged[0].affectedSnapshots.size() != 1 ||
            report.damaged[0].affectedFileCount != files || report.damaged[0].unreachableSubtreeCount != subtrees) {
            state.SkipWithError("the damage was not attributed as expected");
            return;
        }
    }
    state.counters["peakMiB"] = peakMiB();
}

void BM_DeepVerificationSharedLevels(benchmark::State& state) {
    const auto levels = state.range(0);
    const bool treeLost = state.range(1) == 1;
    DamagedRepository bench("wm-verify-levels-bench");
    const BlobID content = bench.store(bytesOf("content"), BlobType::data);
    const BlobID bottom =
        bench.store(TreeObject::encode({benchEntry("file", std::nullopt, {content})}), BlobType::tree);
    BlobID top = bottom;
    for (std::int64_t level = 0; level < levels; ++level)
        top = bench.store(TreeObject::encode({benchEntry("a", top, {}), benchEntry("b", top, {})}), BlobType::tree);
    bench.repository->commit({top, {}, {}, {}, "bench", {}, std::nullopt, Date::now()});
    bench.cutShortAndReopen(treeLost ? bottom : content);
    const std::int64_t paths = std::int64_t{1} << levels;
    verifyDamaged(state, *bench.repository, treeLost ? 0 : paths, treeLost ? paths : 0);
}
BENCHMARK(BM_DeepVerificationSharedLevels)
    ->Args({16, 0})
    ->Args({16, 1})
    ->Args({24, 0})
    ->Args({24, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_DeepVerificationRepeatedHead(benchmark::State& state) {
    DamagedRepository bench("wm-verify-repeated-bench");
    const BlobID content = bench.store(bytesOf("content"), BlobType::data);
    const BlobID root = bench.store(TreeObject::encode({benchEntry("file", std::nullopt, {content})}), BlobType::tree);
    const SnapshotSource source{Bytes(300'000, 'x'), SnapshotSource::Kind::folder};
    const SnapshotID id = bench.repository->commit({root, {source}, {}, {}, "bench", {}, std::nullopt, Date::now()});
    const std::vector<UUID> listed(static_cast<std::size_t>(state.range(0)), id.value);
    const HeadRecord head(2, listed, Date::now(), bench.device.data());
    Repository::write(SignedFile::seal(head, bench.keys, bench.repository->cipher()), RepositoryLayout::head(),
                      *bench.destination);
    bench.cutShortAndReopen(content);
    verifyDamaged(state, *bench.repository, state.range(0), 0);
    state.counters["listings"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_DeepVerificationRepeatedHead)->Arg(5000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DeepVerificationManyPacks(benchmark::State& state) {
    const auto levels = state.range(0);
    const auto packs = state.range(1);
    DamagedRepository bench("wm-verify-packs-bench");
    std::vector<TreeObject::Entry> folders;
    std::vector<BlobID> lost;
    for (std::int64_t i = 0; i < packs; ++i) {
        const std::string name = "u" + std::to_string(i);
        lost.push_back(bench.store(TreeObject::encode({benchEntry(name, std::nullopt, {})}), BlobType::tree));
        folders.push_back(benchEntry(name, lost.back(), {}));
    }
    BlobID top = bench.store(TreeObject::encode(folders), BlobType::tree);
    for (std::int64_t level = 0; level < levels; ++level)
        top = bench.store(TreeObject::encode({benchEntry(std::string(16, 'n'), top, {})}), BlobType::tree);
    bench.repository->commit({top, {}, {}, {}, "bench", {}, std::nullopt, Date::now()});
    for (const BlobID& tree : lost) std::filesystem::remove(bench.packPath(tree));
    bench.reopen();
    for (auto _ : state) {
        const auto report = verify(*bench.repository, Verification::Depth::deep(), Date::now());
        const bool attributed = std::all_of(report.damaged.begin(), report.damaged.end(), [](const auto& damage) {
            return damage.affectedSnapshots.size() == 1 && damage.unreachableSubtreeCount == 1 &&
                   damage.unreachableSubtrees.size() == 1;
        });
        if (report.damaged.size() != static_cast<std::size_t>(packs) || !attributed) {
            state.SkipWithError("the damage was not attributed as expected");
            return;
        }
    }
    state.counters["peakMiB"] = peakMiB();
}
BENCHMARK(BM_DeepVerificationManyPacks)->Args({600, 600})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace wm

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;  // the generated repository is removed as the process ends
}

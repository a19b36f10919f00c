// Repository maintenance on local folders.
//
//   Mark/N/R        the mark phase over N snapshots that share R root trees and, below them,
//                   100 folder trees. Every snapshot record is read, every tree once: compare
//                   N at equal R, and R at equal N. Repository in /dev/shm (when present), so
//                   the figure is the walk's, not the disk's.
//   Replicate       a 1 GiB repository (WM_MAINTENANCE_BENCH_GIB sets another size) copied to
//                   an empty folder on the same disk, every pack read back and checked; the
//                   counters give the time of `cp -r` of the same folder, with and without a
//                   final `sync`, and the ratios.
//   Refresh         replication to a copy that is already up to date.
//   Sweep           the sweep of that repository when half its packs are candidates; the
//                   counter "unlinkRatio" compares it with removing the same pack files.
//   ReplicateDamagedShared/L
//                   replication of L levels of two folders naming one tree, above one file
//                   whose content blob is missing: L + 1 trees, 2^L paths to the file.
//   ReplicateRepeatedHead/N
//                   replication of a head that lists one snapshot N times, the snapshot's
//                   source path 300,000 bytes that are not UTF-8.
// The last two replicate into an empty folder in /dev/shm (when present) each time.
//   RepeatedRecordPeakMemory/F/N
//                   the built wm-maintain and wmrestore over a head that lists a small, older
//                   snapshot once and then one snapshot N times whose device name (F = 0) or
//                   source path (F = 1) is 1,000,000 bytes: replicate into an empty folder,
//                   repair from that copy, list the backups and restore the newest headless,
//                   mark by a size budget (its walk charges each snapshot's packs), mark
//                   keeping the newest, and sweep. The peak resident memory of each run
//                   is a counter in MB; a run that fails or reaches 256 MB is an error. The
//                   repository is made through the engine in a child process.
//                   WM_MAINTAIN_PROGRAM and WM_RESTORE_PROGRAM name the programs when they are
//                   not in this build; without the restore program that run is left out.
// The repositories are generated once per run in temporary folders and removed at the end.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "PeakResident.h"
#include "Scratch.h"
#include "core/RepositoryJSON.h"
#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "crypto/SymmetricKey.h"
#include "engine/KeyFiles.h"
#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "format/TreeObject.h"
#include "maintenance/Pruner.h"
#include "maintenance/Replicator.h"
#include "storage/LocalFolderDestination.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

Date day(int n) { return Date::fromMicroseconds(1'765'000'000'000'000).adding(86400.0 * n); }

struct Folder {
    fs::path path;
    explicit Folder(const fs::path& base, const std::string& name)
        : path(base / (name + "-" + std::to_string(::getpid()))) {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::shared_ptr<Destination> destination(bool preparing = true) const {
        return std::make_shared<LocalFolderDestination>(
            DestinationID::random(), DestinationKind::localFolder(), path, std::nullopt,
            preparing ? LocalFolderDestination::Preparation::preparing(RepositoryLayout::requiredDirectories())
                      : LocalFolderDestination::Preparation::readingOnly());
    }
};

RepositoryKeys benchKeys() {
    RepositoryID id;
    id.bytes = SymmetricKey::random().bytes;
    return RepositoryKeys(SymmetricKey::random(), id);
}

DeviceID benchDevice() {
    DeviceID device;
    device.bytes.fill(7);
    return device;
}

Bytes randomBytes(std::size_t size, std::mt19937_64& rng) {
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

TreeObject::Entry fileEntry(std::string name, std::vector<BlobID> content) {
    TreeObject::Entry entry;
    entry.name = bytesOf(name);
    entry.entryType = TreeObject::EntryType::file;
    entry.mode = 0100644;
    entry.contentBlobs = std::move(content);
    return entry;
}

// --- mark over many snapshots sharing their folders ---

struct ManySnapshots {
    Folder folder{fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path(), "wm-mark-bench"};
    RepositoryKeys keys = benchKeys();
    std::shared_ptr<Repository> repository;

    ManySnapshots(int count, int distinctRoots) {
        auto destination = folder.destination();
        auto repo = Repository::create(destination, keys, benchDevice(), "bench", std::nullopt, 2, day(0));
        std::mt19937_64 rng(7);
        std::vector<BlobID> shared;
        for (int t = 0; t < 100; ++t) {
            std::vector<TreeObject::Entry> files;
            for (int f = 0; f < 20; ++f) {
                BlobID content;
                for (auto& b : content.bytes) b = static_cast<std::uint8_t>(rng());
                files.push_back(fileEntry("file" + std::to_string(f), {content}));
            }
            shared.push_back(repo->store(TreeObject::encode(files), BlobType::tree).id);
        }
        std::vector<BlobID> roots;
        for (int s = 0; s < distinctRoots; ++s) {
            std::vector<TreeObject::Entry> entries;
            for (int k = 0; k < 10; ++k) {
                TreeObject::Entry folderEntry;
                folderEntry.name = bytesOf("folder" + std::to_string(k));
                folderEntry.entryType = TreeObject::EntryType::directory;
                folderEntry.childTree = shared[static_cast<std::size_t>((s + k * 7) % 100)];
                entries.push_back(folderEntry);
            }
            entries.push_back(fileEntry("run" + std::to_string(s), {}));
            roots.push_back(repo->store(TreeObject::encode(entries), BlobType::tree).id);
        }
        // One commit writes every pack; the other records and the head are written directly.
        const SnapshotID first = repo->commit({roots[0], {}, {}, {}, "bench", {}, std::nullopt, day(0)});
        std::vector<UUID> listed{first.value};
        SnapshotRecord record = repo->snapshot(first);
        for (int s = 1; s < count; ++s) {
            record.id = UUID::random();
            record.counter = static_cast<std::uint64_t>(s + 1);
            record.createdAt = day(0).adding(60.0 * s);
            record.rootTree = roots[static_cast<std::size_t>(s % distinctRoots)].data();
            Repository::write(SignedFile::seal(record, keys, repo->cipher()),
                              RepositoryLayout::snapshot(SnapshotID{record.id}), *destination);
            listed.push_back(record.id);
        }
        const HeadRecord head(static_cast<std::uint64_t>(count), listed, day(1), benchDevice().data());
        Repository::write(SignedFile::seal(head, keys, repo->cipher()), RepositoryLayout::head(), *destination);
        repository =
            Repository::open(destination, keys, benchDevice(), "bench", std::nullopt, Repository::Access::readWrite)
                .repository;
    }
};

void BM_Mark(benchmark::State& state) {
    ManySnapshots bench(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        const auto report = Pruner().mark(*bench.repository, RetentionPolicy::lastN(INT64_MAX), {}, day(2));
        benchmark::DoNotOptimize(report);
    }
    state.counters["snapshots"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_Mark)
    ->Args({1000, 500})
    ->Args({10000, 500})
    ->Args({10000, 5000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// --- small repositories that repeat themselves ---

fs::path memoryBase() { return fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path(); }

TreeObject::Entry folderEntry(std::string name, const BlobID& tree) {
    TreeObject::Entry entry;
    entry.name = bytesOf(name);
    entry.entryType = TreeObject::EntryType::directory;
    entry.mode = 040755;
    entry.childTree = tree;
    return entry;
}

struct SmallRepository {
    Folder folder{memoryBase(), "wm-repeating-bench"};
    RepositoryKeys keys = benchKeys();
    std::shared_ptr<Destination> destination = folder.destination();
    std::shared_ptr<Repository> repository =
        Repository::create(destination, keys, benchDevice(), "bench", std::nullopt, 2, day(0));

    void reopen() {
        repository =
            Repository::open(destination, keys, benchDevice(), "bench", std::nullopt, Repository::Access::readWrite)
                .repository;
    }
    // Replicates into an empty folder; the time of the replication alone.
    ReplicationReport replicate(benchmark::State& state) {
        Folder copy(memoryBase(), "wm-repeating-copy-bench");
        const auto start = Clock::now();
        auto report = Replicator().replicate(*repository, *copy.destination(false), keys);
        state.SetIterationTime(seconds(start));
        return report;
    }
};

void BM_ReplicateDamagedShared(benchmark::State& state) {
    SmallRepository bench;
    BlobID lost;
    lost.bytes.fill(0x5A);  // never stored
    BlobID tree = bench.repository->store(TreeObject::encode({fileEntry("file", {lost})}), BlobType::tree).id;
    for (std::int64_t level = 0; level < state.range(0); ++level)
        tree = bench.repository
                   ->store(TreeObject::encode({folderEntry("a", tree), folderEntry("b", tree)}), BlobType::tree)
                   .id;
    bench.repository->commit({tree, {}, {}, {}, "bench", {}, std::nullopt, day(0)});
    for (auto _ : state) {
        const auto report = bench.replicate(state);
        if (report.snapshotsNotWhole.size() != 1 || report.isCurrent)
            state.SkipWithError("the damaged snapshot was not found");
    }
}
BENCHMARK(BM_ReplicateDamagedShared)
    ->Arg(12)
    ->Arg(16)
    ->Arg(20)
    ->Arg(30)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

void BM_ReplicateRepeatedHead(benchmark::State& state) {
    SmallRepository bench;
    const BlobID content = bench.repository->store(bytesOf("content"), BlobType::data).id;
    const BlobID root = bench.repository->store(TreeObject::encode({fileEntry("file", {content})}), BlobType::tree).id;
    const SnapshotSource source{Bytes(300'000, 0xFF), SnapshotSource::Kind::folder};
    const SnapshotID id = bench.repository->commit({root, {source}, {}, {}, "bench", {}, std::nullopt, day(0)});
    const std::vector<UUID> listed(static_cast<std::size_t>(state.range(0)), id.value);
    const HeadRecord head(2, listed, day(1), benchDevice().data());
    Repository::write(SignedFile::seal(head, bench.keys, bench.repository->cipher()), RepositoryLayout::head(),
                      *bench.destination);
    bench.reopen();
    for (auto _ : state) {
        const auto report = bench.replicate(state);
        if (!report.isCurrent) state.SkipWithError("the copy is not current");
    }
    state.counters["listings"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_ReplicateRepeatedHead)->Arg(5000)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

// --- the built tools over a head that repeats one large record ---

fs::path builtProgram(const char* variable, const fs::path& inBuild) {
    if (const char* program = std::getenv(variable); program && *program) return program;
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / inBuild;
}

void BM_RepeatedRecordPeakMemory(benchmark::State& state) {
    const bool largeSource = state.range(0) == 1;
    const auto listings = static_cast<std::size_t>(state.range(1));
    const fs::path maintain = builtProgram("WM_MAINTAIN_PROGRAM", "tools/wm-maintain/wm-maintain");
    const fs::path restore = builtProgram("WM_RESTORE_PROGRAM", "src/app/wmrestore");
    bench::Scratch scratch;
    // The tools remember head counters in the state folder: this run's are its own.
    ::setenv("XDG_STATE_HOME", (scratch.path / "state").c_str(), 1);
    const fs::path repository = scratch.path / "repository", secret = scratch.path / "recovery-key.txt";
    const bool made = bench::inChild([&] {
        auto destination = std::make_shared<LocalFolderDestination>(
            DestinationID::random(), DestinationKind::localFolder(), repository, std::nullopt,
            LocalFolderDestination::Preparation::preparing());
        const RepositoryKeys keys = benchKeys();
        const RecoveryKey recoveryKey = RecoveryKey::generate();
        auto repo =
            Repository::create(destination, keys, benchDevice(), "bench", std::nullopt, 2, day(0),
                               {KeyFile::wrap(keys.master, recoveryKey, keys.repositoryID, std::nullopt, day(0))},
                               {{}, [&] { std::ofstream(secret) << recoveryKey.text() << "\n"; }});
        const BlobID older = repo->store(TreeObject::encode({fileEntry("older", {})}), BlobType::tree).id;
        const SnapshotID small = repo->commit({.rootTree = older, .deviceName = "bench", .now = day(0)});
        const BlobID content = repo->store(bytesOf("content"), BlobType::data).id;
        const BlobID root = repo->store(TreeObject::encode({fileEntry("file", {content})}), BlobType::tree).id;
        const std::string large(1'000'000, 'd');
        Repository::CommitRequest request{.rootTree = root, .deviceName = large, .now = day(1)};
        if (largeSource)
            request = {.rootTree = root,
                       .sources = {{bytesOf(large), SnapshotSource::Kind::folder}},
                       .deviceName = "bench",
                       .now = day(1)};
        std::vector<SnapshotID> listed(listings + 1, repo->commit(request));
        listed.front() = small;
        repo->setHead(repo->lockWriting(), listed, day(1));
    });
    if (!made) {
        state.SkipWithError("the repository could not be made");
        return;
    }
    const std::string repo = repository.string(), key = secret.string(), copy = (scratch.path / "copy").string();
    const std::string markAt = RepositoryJSON::dateText(day(2)), sweepAt = RepositoryJSON::dateText(day(10));
    struct Run {
        const char* name;
        fs::path program;
        std::vector<std::string> arguments;
    };
    std::vector<Run> runs = {
        {"replicate", maintain, {"replicate", repo, copy, "--secret-file", key}},
        {"repair", maintain, {"repair", repo, copy, "--secret-file", key}},
        {"markBySize", maintain, {"mark", repo, "--keep-size", "1", "--now", markAt, "--secret-file", key}},
        {"mark", maintain, {"mark", repo, "--keep-last", "1", "--now", markAt, "--secret-file", key}},
        {"sweep", maintain, {"sweep", repo, "--now", sweepAt, "--secret-file", key}},
    };
    if (fs::exists(restore))
        runs.insert(runs.begin() + 2,
                    {"list", restore, {"--headless-restore", repo, (scratch.path / "restored").string(), key}});
    static std::string failure;  // kept by pointer until the report is written
    failure.clear();
    std::string peaks;  // every run's, for the error, which shows no counters
    for (auto _ : state) {
        for (const Run& run : runs) {
            int status = 0;
            const std::uint64_t peak = bench::peakResident(run.program, run.arguments, status);
            state.counters[std::string(run.name) + "_peak_MB"] = static_cast<double>(peak) / 1e6;
            peaks += std::string(peaks.empty() ? "" : ", ") + run.name + " " + std::to_string(peak / 1'000'000) + " MB";
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                failure += std::string(failure.empty() ? "" : ", ") + run.name + " failed";
            else if (peak >= 256'000'000)
                failure += std::string(failure.empty() ? "" : ", ") + run.name + " reached 256 MB";
        }
    }
    state.counters["listings"] = static_cast<double>(listings);
    if (!failure.empty()) {
        failure += " (peak resident memory: " + peaks + ")";
        state.SkipWithError(failure.c_str());
    }
}
// F: 0 the device name is the large field, 1 the source path; N listings.
BENCHMARK(BM_RepeatedRecordPeakMemory)
    ->Args({0, 500})
    ->Args({0, 5000})
    ->Args({1, 5000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// --- a repository of a given size on disk ---

struct LargeRepository {
    Folder folder{fs::temp_directory_path(), "wm-maintenance-bench"};
    RepositoryKeys keys = benchKeys();
    std::shared_ptr<Repository> repository;
    std::uint64_t bytes = 0;

    // Two snapshots of one file each, each about half of the total.
    LargeRepository() {
        double gib = 1.0;
        if (const char* text = std::getenv("WM_MAINTENANCE_BENCH_GIB")) gib = std::atof(text);
        bytes = static_cast<std::uint64_t>(gib * (1u << 30));
        auto destination = folder.destination();
        repository = Repository::create(destination, keys, benchDevice(), "bench", std::nullopt, 2, day(0));
        std::mt19937_64 rng(11);
        for (int s = 0; s < 2; ++s) {
            std::vector<BlobID> content;
            for (std::uint64_t stored = 0; stored < bytes / 2; stored += 8u << 20) {
                std::vector<Bytes> chunks;
                for (int c = 0; c < 2; ++c) chunks.push_back(randomBytes(4u << 20, rng));
                for (const auto& r : repository->storeChunks(chunks, BlobType::data)) content.push_back(r.id);
            }
            const auto root = repository->store(TreeObject::encode({fileEntry("half", content)}), BlobType::tree).id;
            repository->commit({root, {}, {}, {}, "bench", {}, std::nullopt, day(s)});
        }
    }
};

LargeRepository& largeRepository() {
    static LargeRepository repository;
    return repository;
}

double shell(const std::string& command) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error(command + " failed");
    return seconds(start);
}

void BM_Replicate(benchmark::State& state) {
    auto& source = largeRepository();
    double cp = 0, cpSync = 0, replicate = 0;
    for (auto _ : state) {
        {
            Folder plain(fs::temp_directory_path(), "wm-cp-bench");
            fs::remove(plain.path);
            shell("sync");
            const double c = shell("cp -r '" + source.folder.path.string() + "' '" + plain.path.string() + "'");
            cp += c;
            cpSync += c + shell("sync");
        }
        Folder copy(fs::temp_directory_path(), "wm-replica-bench");
        shell("sync");
        const auto start = Clock::now();
        const auto report = Replicator().replicate(*source.repository, *copy.destination(false), source.keys);
        const double elapsed = seconds(start);
        replicate += elapsed;
        state.SetIterationTime(elapsed);
        if (!report.isCurrent) state.SkipWithError("the copy is not current");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * source.bytes));
    state.counters["cpRatio"] = replicate / cp;
    state.counters["cpSyncRatio"] = replicate / cpSync;
}
BENCHMARK(BM_Replicate)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

void BM_Refresh(benchmark::State& state) {
    auto& source = largeRepository();
    Folder copy(fs::temp_directory_path(), "wm-replica-bench");
    const auto target = copy.destination(false);
    Replicator().replicate(*source.repository, *target, source.keys);
    for (auto _ : state) {
        const auto report = Replicator().replicate(*source.repository, *target, source.keys);
        if (report.packsCopied != 0) state.SkipWithError("an up-to-date copy copied packs");
    }
}
BENCHMARK(BM_Refresh)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Sweep(benchmark::State& state) {
    auto& source = largeRepository();
    double swept = 0, unlinked = 0;
    for (auto _ : state) {
        Folder work(fs::temp_directory_path(), "wm-sweep-bench");
        fs::remove(work.path);
        fs::copy(source.folder.path, work.path, fs::copy_options::recursive);
        auto repository = Repository::open(work.destination(), source.keys, benchDevice(), "bench", std::nullopt,
                                           Repository::Access::readWrite)
                              .repository;
        Pruner().mark(*repository, RetentionPolicy::lastN(1), {}, day(2));
        std::vector<fs::path> candidates;
        const auto mark = repository->latestMark();
        for (const auto& bytes : mark->candidates)
            candidates.push_back(work.path / RepositoryLayout::pack(*PackID::fromBytes(bytes)).string());
        shell("sync");
        const auto start = Clock::now();
        const auto report = Pruner().sweep(*repository, RetentionPolicy::lastN(1), {}, day(10));
        const double elapsed = seconds(start);
        swept += elapsed;
        state.SetIterationTime(elapsed);
        state.counters["packsDeleted"] = static_cast<double>(report.packsDeleted);

        // The same files removed by hand, from a second copy.
        Folder again(fs::temp_directory_path(), "wm-unlink-bench");
        fs::remove(again.path);
        fs::copy(source.folder.path, again.path, fs::copy_options::recursive);
        shell("sync");
        const auto unlinkStart = Clock::now();
        for (const auto& path : candidates) fs::remove(again.path / fs::relative(path, work.path));
        unlinked += seconds(unlinkStart);
    }
    state.counters["unlinkRatio"] = swept / unlinked;
}
BENCHMARK(BM_Sweep)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace
}  // namespace wm

BENCHMARK_MAIN();

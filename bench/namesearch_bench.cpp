// Searching the names of a snapshot of 100,000 files (1,000 folders of 100 files) kept in a
// repository on a local folder: every tree object read, opened and decoded, every name
// matched ignoring case and accents. The repository is made once in a temporary folder and
// removed when the run ends.
//   bench_namesearch --benchmark_filter=Search
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>

#include "crypto/SymmetricKey.h"
#include "engine/DeletedFileSearch.h"
#include "engine/Repository.h"
#include "engine/SnapshotBrowser.h"
#include "format/RepositoryLayout.h"
#include "format/TreeObject.h"
#include "storage/LocalFolderDestination.h"

namespace wm {
namespace {

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;

struct BenchSnapshot {
    std::filesystem::path folder;
    std::shared_ptr<Repository> repository;
    SnapshotID snapshot;

    ~BenchSnapshot() {
        repository.reset();
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

// Names as a photo library, a documents folder and a music collection have them; one in a
// hundred contains "Report" (with or without an accent).
std::string fileName(int folder, int file) {
    const int n = folder * kFilesPerFolder + file;
    switch (n % 5) {
    case 0: return "IMG_" + std::to_string(10000 + n) + ".HEIC";
    case 1:
        return n % 100 == 1 ? "Quarterly R\xC3\xA9port " + std::to_string(n) + ".pdf"
                            : "Document " + std::to_string(n) + ".pages";
    case 2: return "Track " + std::to_string(n % 20) + " - Caf\xC3\xA9 Session " + std::to_string(n) + ".m4a";
    case 3: return n % 100 == 3 ? "report-" + std::to_string(n) + ".txt" : "notes-" + std::to_string(n) + ".md";
    default:
        return "Screenshot 2024-0" + std::to_string(1 + n % 9) + "-1" + std::to_string(n % 10) + " at " +
               std::to_string(n) + ".png";
    }
}

BenchSnapshot& benchSnapshot() {
    static std::unique_ptr<BenchSnapshot> bench = [] {
        auto b = std::make_unique<BenchSnapshot>();
        b->folder = std::filesystem::temp_directory_path() / ("wm-namesearch-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(b->folder);
        auto destination = std::make_shared<LocalFolderDestination>(
            DestinationID::random(), DestinationKind::localFolder(), b->folder, std::nullopt,
            LocalFolderDestination::Preparation::preparing(RepositoryLayout::requiredDirectories()));
        RepositoryID id;
        id.bytes = SymmetricKey::random().bytes;
        const RepositoryKeys keys(SymmetricKey::random(), id);
        DeviceID device;
        device.bytes.fill(9);
        auto repository = Repository::create(destination, keys, device, "bench", std::nullopt, 2, Date::now());

        const BlobID content = repository->store(bytesOf("same small content"), BlobType::data).id;
        std::vector<TreeObject::Entry> folders;
        for (int f = 0; f < kFolders; ++f) {
            std::vector<TreeObject::Entry> files;
            for (int i = 0; i < kFilesPerFolder; ++i) {
                TreeObject::Entry entry;
                entry.name = bytesOf(fileName(f, i));
                entry.entryType = TreeObject::EntryType::file;
                entry.mode = 0100644;
                entry.modificationTime = {1'700'000'000 + f * 100 + i, 0};
                entry.size = 1000 + static_cast<std::uint64_t>(i);
                entry.userName = "person";
                entry.groupName = "staff";
                entry.contentBlobs = std::vector<BlobID>{content};
                files.push_back(std::move(entry));
            }
            TreeObject::Entry folder;
            folder.name = bytesOf("Folder " + std::to_string(f));
            folder.entryType = TreeObject::EntryType::directory;
            folder.mode = 040755;
            folder.childTree = repository->store(TreeObject::encode(files), BlobType::tree).id;
            folders.push_back(std::move(folder));
        }
        const BlobID root = repository->store(TreeObject::encode(folders), BlobType::tree).id;
        b->snapshot = repository->commit({root, {}, SnapshotStats{}, {}, "bench", {}, std::nullopt, Date::now()});
        b->repository = std::move(repository);
        return b;
    }();
    return *bench;
}

// The whole snapshot: nothing stops the walk before the end.
void BM_SearchWholeSnapshot(benchmark::State& state) {
    BenchSnapshot& bench = benchSnapshot();
    SnapshotBrowser browser(bench.repository);
    std::size_t hits = 0;
    for (auto _ : state) hits = browser.search("report", bench.snapshot, INT64_MAX).size();
    if (hits != 2 * kFolders * kFilesPerFolder / 100) state.SkipWithError("unexpected number of hits");
    state.counters["hits"] = static_cast<double>(hits);
    state.counters["names/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kFolders * (kFilesPerFolder + 1), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SearchWholeSnapshot)->Unit(benchmark::kMillisecond)->UseRealTime();

// A first page of 50 results.
void BM_SearchFirstPage(benchmark::State& state) {
    BenchSnapshot& bench = benchSnapshot();
    SnapshotBrowser browser(bench.repository);
    for (auto _ : state) benchmark::DoNotOptimize(browser.search("report", bench.snapshot, 50));
}
BENCHMARK(BM_SearchFirstPage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The file map of the whole snapshot (what a comparison of two snapshots works on).
void BM_ListingWholeSnapshot(benchmark::State& state) {
    BenchSnapshot& bench = benchSnapshot();
    SnapshotBrowser browser(bench.repository);
    for (auto _ : state) benchmark::DoNotOptimize(browser.listing(bench.snapshot, INT64_MAX));
}
BENCHMARK(BM_ListingWholeSnapshot)->Unit(benchmark::kMillisecond)->UseRealTime();

// The name rule alone, over the same 100,000 names.
void BM_MatchNames(benchmark::State& state) {
    std::vector<std::string> names;
    for (int f = 0; f < kFolders; ++f)
        for (int i = 0; i < kFilesPerFolder; ++i) names.push_back(fileName(f, i));
    for (auto _ : state) {
        std::size_t hits = 0;
        for (const auto& name : names) hits += DeletedFileSearch::matches(name, "report") ? 1 : 0;
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * names.size()));
}
BENCHMARK(BM_MatchNames)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace wm

BENCHMARK_MAIN();

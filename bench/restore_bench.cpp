// Restore speed against `cp -a` of the same trees, in the same run.
//
// Two sample backups are made once with wm-test-backup and kept for later runs:
//   large: 2 GiB in 8 files of 256 MiB of incompressible data;
//   small: 50,000 files of 512 bytes to 8 KiB in 250 folders.
// Each iteration restores a whole snapshot into a new folder (RestoreCoordinator over a
// repository opened read-only), or copies the source tree with `cp -a` into a new folder.
// Both read from the page cache; dirty pages are flushed (sync) before each timed
// iteration. The copies are removed only when the run ends: ext4 makes the creation of
// many files slow for half a minute after many were deleted, and that would weigh on
// whichever side ran after a removal.
//
// Environment: WM_BENCH_DIR (default /tmp/wm-restore-bench) holds the trees and backups;
// WM_BENCH_SCALE (default 1) divides the sizes, for a quick run; WM_TEST_BACKUP names the
// tool when it is not beside this build's bench folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "core/AppVersion.h"
#include "crypto/RecoveryKey.h"
#include "engine/Repository.h"
#include "restore/RestoreCoordinator.h"
#include "storage/LocalFolderDestination.h"

namespace {

namespace fs = std::filesystem;
using namespace wm;

fs::path benchDir() {
    const char* dir = std::getenv("WM_BENCH_DIR");
    return dir && *dir ? fs::path(dir) : fs::path("/tmp/wm-restore-bench");
}

std::uint64_t scale() {
    const char* text = std::getenv("WM_BENCH_SCALE");
    const long long n = text ? std::atoll(text) : 1;
    return n > 0 ? static_cast<std::uint64_t>(n) : 1;
}

fs::path toolPath() {
    if (const char* tool = std::getenv("WM_TEST_BACKUP"); tool && *tool) return tool;
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools/wm-test-backup/wm-test-backup";
}

void run(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

void writeNoise(const fs::path& file, std::uint64_t size, std::uint64_t seed) {
    std::ofstream out(file, std::ios::binary);
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    while (size > 0) {
        for (auto& word : block) word = random();
        const std::uint64_t n = std::min<std::uint64_t>(size, block.size() * 8);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        size -= n;
    }
}

struct Sample {
    fs::path source;
    fs::path repository;
    fs::path keyFile;
};

// Makes the source tree and its backup once; a finished sample carries a marker file.
Sample prepare(const std::string& name) {
    const fs::path dir = benchDir() / (name + "-" + std::to_string(scale()));
    Sample sample{dir / "source", dir / "repository", dir / "recovery-key.txt"};
    if (fs::exists(dir / "ready")) return sample;
    fs::remove_all(dir);
    fs::create_directories(sample.source);
    if (name == "large") {
        const std::uint64_t fileSize = (256ull << 20) / scale();
        for (int i = 0; i < 8; ++i)
            writeNoise(sample.source / ("large-" + std::to_string(i) + ".bin"), fileSize, i + 1);
    } else {
        const int files = static_cast<int>(50'000 / scale());
        std::mt19937_64 random(7);
        for (int i = 0; i < files; ++i) {
            const fs::path folder = sample.source / ("folder-" + std::to_string(i / 200));
            if (i % 200 == 0) fs::create_directories(folder);
            writeNoise(folder / ("file-" + std::to_string(i) + ".dat"), 512 + random() % (8192 - 512), 100 + i);
        }
    }
    run(quoted(toolPath()) + " " + quoted(sample.source) + " " + quoted(sample.repository) + " --recovery-key-file " +
        quoted(sample.keyFile) + " > /dev/null");
    std::ofstream(dir / "ready") << "ready\n";
    return sample;
}

std::shared_ptr<Repository> openSample(const Sample& sample, SnapshotID& newest) {
    std::ifstream in(sample.keyFile);
    std::string text;
    std::getline(in, text);
    auto destination = std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(),
                                                                sample.repository, std::nullopt,
                                                                LocalFolderDestination::Preparation::readingOnly());
    DeviceID device;
    device.bytes.fill(0x5E);
    auto unlocked = Repository::unlock(destination, RecoveryKey::parse(text), device, std::string(appVersion),
                                       std::nullopt, Repository::Access::readOnly);
    newest = unlocked.repository->snapshotIDs().back();
    return unlocked.repository;
}

std::uint64_t treeBytes(const fs::path& folder) {
    std::uint64_t total = 0;
    for (const auto& item : fs::recursive_directory_iterator(folder))
        if (item.is_regular_file()) total += item.file_size();
    return total;
}

fs::path targetsDir() { return benchDir() / "targets"; }

// A folder that does not exist yet, with the dirty pages of earlier iterations flushed.
fs::path freshTarget(const std::string& name) {
    static int counter = 0;
    ::sync();
    return targetsDir() / (name + "-" + std::to_string(++counter));
}

void restoreSample(benchmark::State& state, const std::string& name) {
    const Sample sample = prepare(name);
    SnapshotID snapshot;
    auto repository = openSample(sample, snapshot);
    std::uint64_t files = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path target = freshTarget("restore-" + name);
        state.ResumeTiming();
        auto result = RestoreCoordinator().restore(snapshot, *repository, target, {});
        if (!result.isComplete()) state.SkipWithError("the restore reported failures");
        files = result.filesRestored;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * treeBytes(sample.source)));
    state.counters["files"] = static_cast<double>(files);
}

void copySample(benchmark::State& state, const std::string& name) {
    const Sample sample = prepare(name);
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path target = freshTarget("cp-" + name);
        state.ResumeTiming();
        run("cp -a " + quoted(sample.source) + " " + quoted(target));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * treeBytes(sample.source)));
}

void BM_RestoreLargeFiles(benchmark::State& state) { restoreSample(state, "large"); }
void BM_CopyLargeFilesWithCp(benchmark::State& state) { copySample(state, "large"); }
void BM_RestoreSmallFiles(benchmark::State& state) { restoreSample(state, "small"); }
void BM_CopySmallFilesWithCp(benchmark::State& state) { copySample(state, "small"); }

BENCHMARK(BM_CopyLargeFilesWithCp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RestoreLargeFiles)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopySmallFilesWithCp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RestoreSmallFiles)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (fs::exists(targetsDir())) {
        // Left by an interrupted run: remove, then let the file system's memory of the
        // deleted files fade before anything is timed.
        fs::remove_all(targetsDir());
        ::sync();
        ::sleep(40);
    }
    fs::create_directories(targetsDir());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(targetsDir());
    return 0;
}

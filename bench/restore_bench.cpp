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
// A third backup, made here through the engine, attacks the restore: 11 levels of folders
// each name the level below twice, above a bottom tree of 4,096 entries whose names are
// refused. Its record counts every folder the walk would enter, so the walk would meet 2^11
// copies of the bottom tree, eight million refused names; it stops after a million entries
// more than twice the folders the record counts (files it does not count, and entering a
// folder allows only the links, pipes, sockets and devices of its tree). The built program
// restores it headless, and the peak resident memory of that process is reported; over
// 256 MB is an error.
//
// Two more show what a record that counts its folders is allowed: 6 levels of two folders
// naming one tree above a folder of 1,000,000 named pipes, the record counting its 126
// folders, is walked whole (64 million pipes met, each passed over), as a rotation of 64
// copies of one folder of pipes made with hard links would be; and the honest rotation of
// 1,200,000 links (20 folders made with `cp -al` from one folder of 60,000 links, stored as
// one tree) is restored whole, beside `cp -a` of the same source.
//
// Two more attack the decompression: every file names one data blob whose frame states
// 1 GiB but holds an LZFSE stream of 23 bytes, 256 files naming it once (256 divided by
// WM_BENCH_SCALE) and 4 files naming it 100 times each. Every file fails; the peak
// resident memory of the headless restore is reported, and over 256 MB is an error.
//
// Environment: WM_BENCH_DIR (default /tmp/wm-restore-bench) holds the trees and backups;
// WM_BENCH_SCALE (default 1) divides the sizes, for a quick run; WM_TEST_BACKUP names the
// tool when it is not beside this build's bench folder, WM_RESTORE_PROGRAM the restore
// program.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "PeakResident.h"
#include "core/AppVersion.h"
#include "crypto/BlobCompression.h"
#include "crypto/ChaChaPoly.h"
#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "crypto/SecureRandom.h"
#include "engine/KeyFiles.h"
#include "engine/Repository.h"
#include "format/IndexFile.h"
#include "format/PackWriter.h"
#include "format/RepositoryLayout.h"
#include "format/TreeObject.h"
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

// 20 folders s00 to s19, s00 holding 60,000 symbolic links and the others made from it with
// `cp -al`, as a snapshot rotation made with hard links is: the copies share their inodes, so
// the backup stores one tree named by all 20 folders.
void makeLinkRotation(const fs::path& source) {
    const fs::path first = source / "s00";
    fs::create_directories(first);
    const std::uint64_t links = 60'000 / scale();
    for (std::uint64_t i = 0; i < links; ++i)
        fs::create_symlink("target" + std::to_string(i), first / ("l" + std::to_string(i)));
    for (int copy = 1; copy < 20; ++copy) {
        const std::string name = (copy < 10 ? "s0" : "s") + std::to_string(copy);
        run("cp -al " + quoted(first) + " " + quoted(source / name));
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
    } else if (name == "link-rotation") {
        makeLinkRotation(sample.source);
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
    std::uint64_t files = 0, links = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path target = freshTarget("restore-" + name);
        state.ResumeTiming();
        auto result = RestoreCoordinator().restore(snapshot, *repository, target, {});
        if (!result.isComplete()) state.SkipWithError("the restore reported failures");
        files = result.filesRestored;
        links = result.symlinksRestored;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * treeBytes(sample.source)));
    state.counters["files"] = static_cast<double>(files);
    state.counters["links"] = static_cast<double>(links);
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

fs::path restoreProgram() {
    if (const char* program = std::getenv("WM_RESTORE_PROGRAM"); program && *program) return program;
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "src/app/wmrestore";
}

// Hostile backups of long names and of wide shared trees, made once each through the engine
// (validly sealed and signed) and restored headless by the built program:
//   long-names: 11 levels of two folders naming one tree, above a bottom tree holding a name
//     refused for its "/" and a named pipe, each of 65,000 bytes of invalid UTF-8; the record
//     counts every folder. What the result keeps of each entry is bounded, so the peak
//     resident memory stays under 256 MB.
//   wide-pipes: 10 levels of two folders naming one tree, above a folder of 1,000,000 named
//     pipes; the record counts nothing. Timed: the walk stops once it has met more entries
//     than the record allows for (a million, as it counts no folders).
//   wide-blobs: the same folders above one file naming one empty blob 1,000,000 times.
// WM_BENCH_SCALE divides the million.
struct HostileTree {
    BlobID root;
    SnapshotStats stats;
};

fs::path prepareHostile(const std::string& name, const std::function<HostileTree(Repository&, Date)>& build) {
    const fs::path dir = benchDir() / (name + "-" + std::to_string(scale()));
    if (fs::exists(dir / "ready")) return dir;
    fs::remove_all(dir);
    const bool made = bench::inChild([&] {
        auto destination = std::make_shared<LocalFolderDestination>(
            DestinationID::random(), DestinationKind::localFolder(), dir / "repository", std::nullopt,
            LocalFolderDestination::Preparation::preparing());
        DeviceID device;
        device.bytes.fill(0x5E);
        const Date now = Date::repositoryNow();
        const RepositoryKeys keys(SymmetricKey::random(), *RepositoryID::fromBytes(SecureRandom::bytes(32)));
        const RecoveryKey recoveryKey = RecoveryKey::generate();
        auto repository =
            Repository::create(destination, keys, device, std::string(appVersion), std::nullopt, 2, now,
                               {KeyFile::wrap(keys.master, recoveryKey, keys.repositoryID, std::nullopt, now)},
                               {{}, [&] { std::ofstream(dir / "recovery-key.txt") << recoveryKey.text() << "\n"; }});
        const HostileTree tree = build(*repository, now);
        repository->commit({.rootTree = tree.root,
                            .sources = {{bytesOf("/home/you"), SnapshotSource::Kind::folder}},
                            .stats = tree.stats,
                            .deviceName = "bench",
                            .now = now});
        std::ofstream(dir / "ready") << "ready\n";
    });
    if (!made) throw std::runtime_error("could not make the backup " + dir.string());
    return dir;
}

TreeObject::Entry hostileEntry(std::string name, TreeObject::EntryType type, Date now) {
    TreeObject::Entry e;
    e.name = bytesOf(name);
    e.entryType = type;
    e.mode = type == TreeObject::EntryType::directory ? 040755 : 0100644;
    e.modificationTime = e.changeTime = {now.microseconds / 1'000'000, 0};
    return e;
}

// `levels` levels of two folders "a" and "b" naming the level below, above the bottom tree.
HostileTree sharedAbove(Repository& repository, const std::vector<TreeObject::Entry>& bottom, int levels, Date now) {
    HostileTree tree{repository.store(TreeObject::encode(bottom), BlobType::tree).id, {}};
    for (int level = 0; level < levels; ++level) {
        auto a = hostileEntry("a", TreeObject::EntryType::directory, now);
        auto b = hostileEntry("b", TreeObject::EntryType::directory, now);
        a.childTree = b.childTree = tree.root;
        tree.root = repository.store(TreeObject::encode({a, b}), BlobType::tree).id;
        tree.stats.directories = 2 * tree.stats.directories + 2;
    }
    return tree;
}

// 11 levels of two folders naming one tree, above 4,096 names refused for their "/"; the record
// counts every folder. The walk enters 8 million entries' worth of folders unless it stops.
fs::path prepareSharedSubtrees() {
    return prepareHostile("shared-subtrees", [](Repository& repository, Date now) {
        std::vector<TreeObject::Entry> bottom;
        for (int i = 0; i < 4096; ++i) {
            auto file = hostileEntry("refused/" + std::to_string(i), TreeObject::EntryType::file, now);
            file.size = 0;
            bottom.push_back(std::move(file));
        }
        return sharedAbove(repository, bottom, 11, now);
    });
}

fs::path prepareLongNames() {
    return prepareHostile("long-names", [](Repository& repository, Date now) {
        const std::string invalid(65'000, '\xFF');
        auto refused = hostileEntry("refused/" + invalid, TreeObject::EntryType::file, now);
        refused.size = 0;
        return sharedAbove(repository, {refused, hostileEntry(invalid, TreeObject::EntryType::fifo, now)}, 11, now);
    });
}

fs::path prepareWide(bool blobs) {
    const std::uint64_t count = 1'000'000 / scale();
    return prepareHostile(blobs ? "wide-blobs" : "wide-pipes", [&](Repository& repository, Date now) {
        std::vector<TreeObject::Entry> bottom;
        if (blobs) {
            auto file = hostileEntry("file", TreeObject::EntryType::file, now);
            file.size = 0;
            file.contentBlobs = std::vector<BlobID>(count, repository.store({}, BlobType::data).id);
            bottom.push_back(std::move(file));
        } else {
            for (std::uint64_t i = 0; i < count; ++i)
                bottom.push_back(hostileEntry("pipe" + std::to_string(i), TreeObject::EntryType::fifo, now));
        }
        HostileTree tree = sharedAbove(repository, bottom, 10, now);
        tree.stats = {};  // the record counts nothing
        return tree;
    });
}

// Restores the backup in `dir` headless, once per iteration; reports the peak resident memory
// and fails when the program does not end with `expectedStatus` (1: the failures expected), or
// past 256 MB where the memory is bounded.
void restoreHostile(benchmark::State& state, const fs::path& dir, bool boundedMemory, int expectedStatus = 1) {
    std::uint64_t peak = 0;
    int status = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path target = freshTarget(dir.filename().string());
        state.ResumeTiming();
        peak = bench::peakResident(
            restoreProgram(),
            {"--headless-restore", (dir / "repository").string(), target.string(), (dir / "recovery-key.txt").string()},
            status);
    }
    state.counters["peak_MB"] = static_cast<double>(peak) / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expectedStatus)
        state.SkipWithError(expectedStatus == 0 ? "the restore did not succeed" : "the restore program did not finish");
    if (boundedMemory && peak >= 256'000'000) {
        static std::string message;  // kept by pointer until the report is written
        message = "the restore's peak resident memory reached 256 MB: " + std::to_string(peak / 1'000'000) + " MB";
        state.SkipWithError(message.c_str());
    }
}

void BM_RestoreSharedSubtreesPeakMemory(benchmark::State& state) {
    restoreHostile(state, prepareSharedSubtrees(), true);
}
void BM_RestoreLongNamesPeakMemory(benchmark::State& state) { restoreHostile(state, prepareLongNames(), true); }
// Timed. The folder of a million pipes, decoded, takes most of a gigabyte on its own.
void BM_RestoreWideSharedTree(benchmark::State& state) {
    restoreHostile(state, prepareWide(state.range(0) == 1), false);
}

BENCHMARK(BM_RestoreLongNamesPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
// 0: a folder of named pipes; 1: a file naming one empty blob again and again.
BENCHMARK(BM_RestoreWideSharedTree)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RestoreLargeFiles(benchmark::State& state) { restoreSample(state, "large"); }
void BM_CopyLargeFilesWithCp(benchmark::State& state) { copySample(state, "large"); }
void BM_RestoreSmallFiles(benchmark::State& state) { restoreSample(state, "small"); }
void BM_CopySmallFilesWithCp(benchmark::State& state) { copySample(state, "small"); }

BENCHMARK(BM_CopyLargeFilesWithCp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RestoreLargeFiles)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopySmallFilesWithCp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RestoreSmallFiles)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RestoreSharedSubtreesPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- What a record that counts its folders is allowed, and an honest rotation ---

// 6 levels of two folders naming one tree, above a folder of 1,000,000 named pipes (divided
// by WM_BENCH_SCALE); the record counts the 126 folders, so each of the 64 bottom folders
// allows its million pipes once and the walk meets them all.
fs::path prepareCountedWidePipes() {
    const std::uint64_t count = 1'000'000 / scale();
    return prepareHostile("counted-wide-pipes", [&](Repository& repository, Date now) {
        std::vector<TreeObject::Entry> bottom;
        for (std::uint64_t i = 0; i < count; ++i)
            bottom.push_back(hostileEntry("pipe" + std::to_string(i), TreeObject::EntryType::fifo, now));
        return sharedAbove(repository, bottom, 6, now);  // counts its folders
    });
}

// Timed, with the peak resident memory: the accepted cost of a record that counts its folders
// as an honest rotation would. The program ends with status 0 (pipes are passed over).
void BM_RestoreCountedWideSharedTree(benchmark::State& state) {
    restoreHostile(state, prepareCountedWidePipes(), false, 0);
}

void BM_RestoreLinkRotation(benchmark::State& state) { restoreSample(state, "link-rotation"); }
void BM_CopyLinkRotationWithCp(benchmark::State& state) { copySample(state, "link-rotation"); }

BENCHMARK(BM_RestoreCountedWideSharedTree)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CopyLinkRotationWithCp)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RestoreLinkRotation)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Compression bombs ---

// A hostile backup of `files` files, each naming one data blob `references` times. The blob
// is sealed as only a key holder could seal it: its frame states 1 GiB over an LZFSE stream
// of 23 bytes (one raw block of 11 bytes).
fs::path prepareCompressionBomb(int files, int references) {
    const std::string name = "compression-bomb-" + std::to_string(files) + "x" + std::to_string(references);
    return prepareHostile(name, [&](Repository& repository, Date now) {
        constexpr std::uint64_t stated = BlobCompression::maximumLength;
        const auto header = BlobCompression::encodeHeader(BlobCompression::Method::lzfse, stated);
        Bytes frame(header.begin(), header.end());
        const Bytes stream = bytesOf(std::string_view("bvx-\x0b\0\0\0eleven bytebvx$", 23));
        frame.insert(frame.end(), stream.begin(), stream.end());
        const BlobID bomb = repository.cipher().identity(bytesOf("compression bomb"));
        Bytes additional(bomb.bytes.begin(), bomb.bytes.end());
        additional.push_back(rawValue(BlobType::data));
        Bytes sealed = SecureRandom::bytes(BlobCipher::nonceSize);
        const Bytes body = ChaChaPoly::seal(repository.keys().blobKey.view(), sealed, additional, frame);
        sealed.insert(sealed.end(), body.begin(), body.end());
        PackWriter writer(repository.cipher());
        writer.addSealed(bomb, BlobType::data, sealed);
        const auto pack = writer.finish();
        Destination& destination = *repository.destination();
        Repository::write(pack.bytes, RepositoryLayout::pack(pack.id), destination);
        Repository::write(repository.cipher().sealMetadata(IndexFile::encode({{pack.id, pack.entries}})),
                          RepositoryLayout::index(UUID::random()), destination);

        std::vector<TreeObject::Entry> entries;
        for (int i = 0; i < files; ++i) {
            auto file = hostileEntry("bomb-" + std::to_string(i), TreeObject::EntryType::file, now);
            file.size = stated * static_cast<std::uint64_t>(references);
            file.contentBlobs = std::vector<BlobID>(static_cast<std::size_t>(references), bomb);
            entries.push_back(std::move(file));
        }
        HostileTree tree{repository.store(TreeObject::encode(entries), BlobType::tree).id, {}};
        tree.stats.files = static_cast<std::uint64_t>(files);
        tree.stats.bytesLogical = stated * static_cast<std::uint64_t>(files) * static_cast<std::uint64_t>(references);
        return tree;
    });
}

void BM_RestoreCompressionBombPerFilePeakMemory(benchmark::State& state) {
    restoreHostile(state, prepareCompressionBomb(static_cast<int>(256 / std::min<std::uint64_t>(scale(), 256)), 1),
                   true);
}
void BM_RestoreCompressionBombRepeatedPeakMemory(benchmark::State& state) {
    restoreHostile(state, prepareCompressionBomb(4, 100), true);
}

BENCHMARK(BM_RestoreCompressionBombPerFilePeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RestoreCompressionBombRepeatedPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- end of the compression bombs ---

// --- Long attribute lists ---

// 11 levels of two folders naming one tree, above one empty file carrying 300 extended
// attributes, each named with 5,000 bytes (more than any file system takes), 104 KB stored.
// The record counts the 2,048 files and 4,094 folders. Every copy of the file comes back
// without its attributes, and each record saying so names them within its bounded text. This
// restore succeeds (exit status 0); the peak resident memory is reported, and over 256 MB is
// an error.
fs::path prepareLongAttributeLists() {
    return prepareHostile("long-attribute-lists", [](Repository& repository, Date now) {
        auto file = hostileEntry("file", TreeObject::EntryType::file, now);
        file.size = 0;
        file.extendedAttributes.emplace();
        for (int i = 0; i < 300; ++i) {
            std::string name = "user.attribute-" + std::to_string(i) + "-";
            name.resize(5000, 'n');
            file.extendedAttributes->push_back({bytesOf(name), bytesOf("value")});
        }
        HostileTree tree = sharedAbove(repository, {file}, 11, now);
        tree.stats.files = 2048;
        return tree;
    });
}

void BM_RestoreLongAttributeListsPeakMemory(benchmark::State& state) {
    restoreHostile(state, prepareLongAttributeLists(), true, 0);
}

BENCHMARK(BM_RestoreLongAttributeListsPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- end of the long attribute lists ---

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

// Metadata capture and application per file, and a scan of a folder of 2,000 files.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Scratch.h"
#include "fs/DirectoryScanner.h"
#include "fs/MetadataApply.h"
#include "fs/MetadataCapture.h"

namespace {

using wm::bench::Scratch;

void BM_CaptureFile(benchmark::State& state) {
    Scratch scratch;
    const auto file = scratch.path / "f";
    std::ofstream(file) << "content";
    ::setxattr(file.c_str(), "user.a", "1", 1, 0);
    for (auto _ : state) {
        auto r = wm::MetadataCapture::capture(file.string());
        benchmark::DoNotOptimize(r.metadata.size);
    }
}
BENCHMARK(BM_CaptureFile);

void BM_ApplyToDescriptor(benchmark::State& state) {
    Scratch scratch;
    const auto file = scratch.path / "f";
    std::ofstream(file) << "content";
    wm::FileMetadata m;
    m.mode = 0644;
    m.uid = ::geteuid();
    m.gid = ::getegid();
    m.modificationTime = {1'600'000'000, 1};
    m.extendedAttributes.push_back({wm::bytesOf("user.a"), wm::bytesOf("1")});
    int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    for (auto _ : state) {
        auto report = wm::MetadataApply::apply(m, fd);
        benchmark::DoNotOptimize(report.outcomes.data());
    }
    ::close(fd);
}
BENCHMARK(BM_ApplyToDescriptor);

void BM_ScanFolder(benchmark::State& state) {
    Scratch scratch;
    for (int d = 0; d < 20; ++d) {
        auto folder = scratch.path / ("d" + std::to_string(d));
        std::filesystem::create_directories(folder);
        for (int f = 0; f < 100; ++f) std::ofstream(folder / ("f" + std::to_string(f))) << f;
    }
    for (auto _ : state) {
        auto result = wm::DirectoryScanner::scan(scratch.path.string());
        benchmark::DoNotOptimize(result.root.children.size());
    }
    state.SetItemsProcessed(state.iterations() * 2020);
}
BENCHMARK(BM_ScanFolder)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

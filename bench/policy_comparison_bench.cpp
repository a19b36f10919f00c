// Comparing two backups of many files: building the change list (composed-form keys, the
// file browser's order) against a plain walk of the two maps as the baseline.
#include <benchmark/benchmark.h>

#include <map>
#include <string>

#include "core/Localization.h"
#include "policy/SnapshotComparison.h"

namespace {

using Files = std::map<std::string, std::string>;

std::pair<Files, Files> backups(int count) {
    Files older, newer;
    for (int i = 0; i < count; ++i) {
        const std::string path = "folder" + std::to_string(i % 97) + "/file" + std::to_string(i) + ".txt";
        if (i % 3 != 0) older[path] = std::to_string(i);
        if (i % 5 != 0) newer[path] = std::to_string(i % 7 == 0 ? i + 1 : i);
    }
    return {older, newer};
}

void BaselineMapWalk(benchmark::State& state) {
    const auto [older, newer] = backups(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::size_t differing = 0;
        for (const auto& [path, content] : newer) {
            const auto it = older.find(path);
            differing += it == older.end() || it->second != content;
        }
        for (const auto& entry : older) differing += !newer.count(entry.first);
        benchmark::DoNotOptimize(differing);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Changes(benchmark::State& state) {
    wm::Localization::setLocaleForTesting("en_US");
    const auto [older, newer] = backups(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(wm::SnapshotComparison::changes(older, newer, {}));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BaselineMapWalk)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(Changes)->Arg(100'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Taking paths out of a failure text for the diagnostic report, on the lines that cost most:
// one line of 1 MB (and of 64 KB, to show the time grows with the length, not its square)
// repeating a "/" after an opening guillemet, curly double quote or double quote, none of them
// ever closed: every later double quote follows a backslash. Each should take well under
// 50 ms at 1 MB.
//   bench_status --benchmark_filter=WithoutPaths
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "status/DiagnosticReport.h"

namespace wm {
namespace {

std::string repeated(std::string_view piece, std::int64_t bytes, std::string_view start = {}) {
    std::string text(start);
    text.reserve(static_cast<std::size_t>(bytes) + piece.size());
    while (text.size() < static_cast<std::size_t>(bytes)) text += piece;
    return text;
}

void withoutPaths(benchmark::State& state, std::string_view piece, std::string_view start = {}) {
    const std::string text = repeated(piece, state.range(0), start);
    for (auto _ : state) benchmark::DoNotOptimize(DiagnosticReport::withoutPaths(text));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void WithoutPaths_UnclosedGuillemets(benchmark::State& state) { withoutPaths(state, "\u00AB/x "); }
void WithoutPaths_UnclosedCurlyQuotes(benchmark::State& state) { withoutPaths(state, "\u201C/x "); }
void WithoutPaths_EscapedQuotes(benchmark::State& state) { withoutPaths(state, "/x \\\"", "\""); }

BENCHMARK(WithoutPaths_UnclosedGuillemets)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(WithoutPaths_UnclosedCurlyQuotes)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(WithoutPaths_EscapedQuotes)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace wm

BENCHMARK_MAIN();

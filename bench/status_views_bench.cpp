// Drawing the protection widget: a record with an ordinary headline as the baseline, and one
// whose headline fills the whole widget-state file the widget will read (1 MiB), which must
// cost about as much to draw as a few screenfuls of text, not minutes.
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "statusviews/ProtectionWidgetView.h"

namespace {

using wm::StatusView::Family;

const wm::Date now = wm::Date::fromSeconds(1'796'000'000);

void draw(benchmark::State& state, const std::string& headline) {
    const wm::WidgetState record{headline, wm::ScreenStanding::Tone::good, "checkmark.circle.fill", now, 2, now};
    const auto family = static_cast<Family>(state.range(0));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            wm::ProtectionWidgetView(record, now, family).render(wm::StatusView::Appearance::light, 2));
    state.SetLabel(std::string(wm::StatusView::familyName(family)));
}

void OrdinaryHeadline(benchmark::State& state) { draw(state, "You're protected"); }

void FileSizedHeadline(benchmark::State& state) {
    std::string headline;
    while (headline.size() < wm::WidgetState::readLimit) headline += "protected ";
    draw(state, headline);
}

void FileSizedWord(benchmark::State& state) { draw(state, std::string(wm::WidgetState::readLimit, 'W')); }

const std::vector<std::int64_t> families = {static_cast<std::int64_t>(Family::systemSmall),
                                            static_cast<std::int64_t>(Family::systemLarge),
                                            static_cast<std::int64_t>(Family::accessoryInline)};

BENCHMARK(OrdinaryHeadline)->ArgsProduct({families})->Unit(benchmark::kMillisecond);
BENCHMARK(FileSizedHeadline)->ArgsProduct({families})->Unit(benchmark::kMillisecond);
BENCHMARK(FileSizedWord)->ArgsProduct({families})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// wm-status-views <folder>: draws every family of the protection widget and the watch
// complication for a few states, light and dark, to PNG files in the folder.
#include <QGuiApplication>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "ToolRun.h"
#include "statusviews/ComplicationView.h"
#include "statusviews/ProtectionWidgetView.h"
#include "ui/OffscreenRun.h"

namespace {

using namespace wm;
using StatusView::Appearance;
using StatusView::Family;

struct Picture {
    std::string name;
    QImage image;
};

std::vector<Picture> pictures(Date now) {
    using ScreenStanding::Tone;
    const WidgetState good{"You're protected", Tone::good, "checkmark.circle.fill",
                           now.adding(-7200),  2,          now.adding(-600)};
    const WidgetState attention{
        "Check what changed", Tone::attention, "exclamationmark.triangle.fill", now.adding(-86'400), 1,
        now.adding(-600)};
    const WidgetState neutral{
        "Ready to protect your files", Tone::neutral, "circle.dashed", std::nullopt, 0, now.adding(-600)};
    // Written five hours ago, an hour after the last backup: old enough for the note.
    WidgetState stale = good;
    std::tie(stale.lastSuccess, stale.writtenAt) = std::tuple(now.adding(-6 * 3600.0), now.adding(-5 * 3600.0));
    // Last heard eight hours ago, so the watch can no longer tell.
    WidgetState heard = good;
    std::tie(heard.lastSuccess, heard.writtenAt) = std::tuple(now.adding(-9 * 3600.0), now.adding(-8 * 3600.0));
    const std::vector<std::pair<std::string, WidgetState>> widgetStates = {
        {"good", good},
        {"attention", attention},
        {"neutral", neutral},
        {"stale", stale},
        {"never-written", WidgetState::nothingKnownYet()}};
    const std::vector<std::pair<std::string, WatchSummary::Snapshot>> watchStates = {
        {"good", WatchSummary::snapshot(good, now.adding(-60), now)},
        {"attention", WatchSummary::snapshot(attention, now.adding(-60), now)},
        {"unknown", WatchSummary::snapshot(heard, heard.writtenAt, now)},
        {"never-written", WatchSummary::Snapshot::nothingHeardYet()}};

    std::vector<Picture> out;
    for (Appearance appearance : {Appearance::light, Appearance::dark}) {
        const std::string shade = appearance == Appearance::light ? "light" : "dark";
        for (Family family : {Family::systemSmall, Family::systemMedium, Family::systemLarge, Family::accessoryCircular,
                              Family::accessoryRectangular, Family::accessoryInline}) {
            const std::string familyName(StatusView::familyName(family));
            for (const auto& [name, state] : widgetStates)
                out.push_back({"widget-" + familyName + "-" + name + "-" + shade + ".png",
                               ProtectionWidgetView(state, now, family).render(appearance, 2)});
            if (family != Family::accessoryCircular && family != Family::accessoryRectangular &&
                family != Family::accessoryInline)
                continue;
            for (const auto& [name, snapshot] : watchStates)
                out.push_back({"watch-" + familyName + "-" + name + "-" + shade + ".png",
                               ComplicationView(snapshot, now, family).render(appearance, 2)});
        }
    }
    return out;
}

int run(int argc, char** argv, const tools::ToolArguments& arguments) {
    if (arguments.operands().size() != 1 || arguments.operands()[0].empty())
        throw tools::UsageError("a folder for the pictures is needed");
    wm::OffscreenRun::prepare("wm-status-views");
    QGuiApplication application(argc, argv);
    const std::filesystem::path folder = arguments.operands()[0];
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw tools::ToolRefusal("The folder \"" + folder.string() + "\" could not be made: " + ec.message() + ".");
    const auto all = pictures(Date::now());
    for (const Picture& picture : all) {
        if (OffscreenRun::isBlank(picture.image)) throw tools::ToolRefusal(picture.name + " came out blank.");
        const std::filesystem::path file = folder / picture.name;
        if (!picture.image.save(QString::fromStdString(file.string()), "PNG"))
            throw tools::ToolRefusal("\"" + file.string() + "\" could not be written.");
    }
    std::printf("wm-status-views: wrote %zu pictures to %s\n", all.size(), folder.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const tools::ToolDescription tool{"wm-status-views", "usage: wm-status-views <folder>\n", {}};
    return tools::runTool(tool, argc, argv,
                          [&](const tools::ToolArguments& arguments) { return run(argc, argv, arguments); });
}

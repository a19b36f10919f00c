#include "app/window/RestoreScreenshots.h"

#include <QImage>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "ProcessRun.h"
#include "support/TempFolder.h"
#include "support/Thrown.h"
#include "ui/Style.h"

namespace wm {
namespace {

namespace fs = std::filesystem;

// More than eight colours pass. A picture 64 or more on its shorter side is sampled every
// 5 pixels (dots between the grid points are not seen); a smaller one at every pixel. The
// refusal names the picture.
TEST(RestoreScreenshotsTest, APictureNeedsMoreThanEightColoursToPass) {
    for (const auto& [width, height, colours, spacing, passes] : {std::tuple{640, 320, 8, 5, false}, {640, 320, 9, 5, true},
                                                                  {60, 40, 9, 1, true}, {640, 640, 20, 3, false},
                                                                  {0, 0, 1, 1, false}}) {
        QImage image(width, height, QImage::Format_RGB32);  // dark, with colours-1 dots along a grid
        image.fill(QColor(10, 10, 10));
        for (int i = 1; i < colours; ++i)
            image.setPixel((i * spacing) % width, ((i * spacing) / width) * spacing, qRgb(20 + i * 20, 200 - i * 10, 5 * i));
        const auto name = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(colours);
        if (passes) {
            EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(image, name));
        } else {
            EXPECT_EQ(test::thrown<RestoreScreenshots::Failure>([&] { RestoreScreenshots::refuseIfBlank(image, name); })
                          .fileName, name);
        }
    }
}

#ifdef WMRESTORE_PATH
// Four different pictures, 660 wide, that pass the blank check. The chosen backup's mark is
// drawn in the accent; the problem line of the refused secret and the headline of the report
// in their text shades (whose legibility is the style's own test).
TEST(RestoreScreenshotsTest, TheScreenshotRunWritesFourDifferentPictures) {
    const test::TempFolder temp("wm-shots");
    const fs::path folder = temp / "nested";
    for (int run = 0; run < 2; ++run) {  // the second reuses the folder
        const auto outcome = testing::runProcess({WMRESTORE_PATH, "--screenshots", folder.string()});
        ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
        EXPECT_EQ(outcome.out, "wmrestore-shot: wrote 4 screenshots to " + folder.string() + "\n");
    }
    const std::map<std::string, QColor> marks = {
        {"restore-open.png", QColor()},
        {"restore-wrong-key.png", Style::orange(Style::Appearance::light, Style::Use::text)},
        {"restore-choose.png", Style::accent(Style::Appearance::light)},
        {"restore-done.png", Style::green(Style::Appearance::light, Style::Use::text)}};
    std::set<QByteArray> contents;
    for (const auto& [name, mark] : marks) {
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString((folder / name).string()), "PNG")) << name;
        EXPECT_EQ(image.width(), 660);
        EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(image, name));
        contents.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        if (!mark.isValid()) continue;
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) drawn += image.pixel(x, y) == mark.rgb();
        EXPECT_GT(drawn, 0) << name << ": the shade is not drawn";
    }
    EXPECT_EQ(contents.size(), 4u);
}

TEST(RestoreScreenshotsTest, AFolderThatCannotBeMadeEndsTheRunWithItsError) {
    const test::TempFolder temp("wm-shots");
    const fs::path blocker = temp.writeFile("blocker", "a file, not a folder");
    const auto outcome = testing::runProcess({WMRESTORE_PATH, "--screenshots", (blocker / "shots").string()});
    EXPECT_EQ(std::pair(outcome.exitStatus, outcome.out), std::pair(1, std::string()));
    EXPECT_TRUE(outcome.err.size() > 1 && outcome.err.ends_with('\n')) << outcome.err;
}
#endif

}  // namespace
}  // namespace wm

#include "app/window/RestoreScreenshots.h"

#include <QImage>
#include <filesystem>
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <set>

#include "ProcessRun.h"
#include "support/TempFolder.h"
#include "ui/Style.h"

namespace wm {
namespace {

namespace fs = std::filesystem;

// A dark picture with colours-1 more single pixels, dotSpacing apart along a grid.
QImage withColours(int width, int height, int colours, int dotSpacing) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(10, 10, 10));
    for (int i = 1; i < colours; ++i) {
        image.setPixel((i * dotSpacing) % width, ((i * dotSpacing) / width) * dotSpacing,
                       qRgb(20 + i * 20, 200 - i * 10, 5 * i));
    }
    return image;
}

// More than eight colours pass. A picture 64 or more on its shorter side is sampled every
// 5 pixels (dots between the grid points are not seen); a smaller one at every pixel.
TEST(RestoreScreenshotsTest, APictureNeedsMoreThanEightColoursToPass) {
    const struct {
        int width, height, colours, spacing;
        bool passes;
    } cases[] = {
        {640, 320, 1, 5, false}, {640, 320, 8, 5, false}, {640, 320, 9, 5, true},
        {640, 320, 20, 5, true}, {60, 40, 9, 1, true},    {640, 640, 20, 3, false},
    };
    for (const auto& c : cases) {
        const QImage image = withColours(c.width, c.height, c.colours, c.spacing);
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << ", " << c.colours << " colours");
        if (c.passes) {
            EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(image, "x.png"));
        } else {
            EXPECT_THROW(RestoreScreenshots::refuseIfBlank(image, "x.png"), RestoreScreenshots::Failure);
        }
    }
    try {
        RestoreScreenshots::refuseIfBlank(QImage(), "restore-open.png");
        ADD_FAILURE() << "an empty picture passed";
    } catch (const RestoreScreenshots::Failure& failure) {
        EXPECT_EQ(failure.fileName, "restore-open.png");  // the refusal names the picture
    }
}

#ifdef WMRESTORE_PATH
// The problem line of the refused secret and the headline of the report are drawn in their
// text shades, which stand out from the picture's background (its commonest colour) by at
// least 4.5:1.
void expectLegibleText(const QImage& image, const std::string& name) {
    const std::map<std::string, QColor> texts = {
        {"restore-wrong-key.png", Style::orange(Style::Appearance::light, Style::Use::text)},
        {"restore-done.png", Style::green(Style::Appearance::light, Style::Use::text)}};
    const auto text = texts.find(name);
    if (text == texts.end()) return;
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
    }
    const auto background = std::max_element(counts.begin(), counts.end(),
                                             [](const auto& a, const auto& b) { return a.second < b.second; });
    EXPECT_GT(counts[text->second.rgb()], 20) << "the text shade is not drawn";
    EXPECT_GE(Style::contrast(text->second, QColor(background->first)), 4.5);
}

// Four different pictures, 660 wide and at least 200 high, that pass the blank check; the
// chosen backup's mark in the choose picture is drawn in the accent colour. A second run
// reuses the folder.
TEST(RestoreScreenshotsTest, TheScreenshotRunWritesFourDifferentPictures) {
    const test::TempFolder temp("wm-shots");
    const fs::path folder = temp / "nested";
    for (int run = 0; run < 2; ++run) {
        const auto outcome = testing::runProcess({WMRESTORE_PATH, "--screenshots", folder.string()});
        ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
        EXPECT_EQ(outcome.out, "wmrestore-shot: wrote 4 screenshots to " + folder.string() + "\n");
        EXPECT_EQ(outcome.err, "");
    }
    std::set<QByteArray> contents;
    for (const char* name : {"restore-open.png", "restore-wrong-key.png", "restore-choose.png", "restore-done.png"}) {
        SCOPED_TRACE(name);
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString((folder / name).string()), "PNG"));
        EXPECT_EQ(image.width(), 660);
        EXPECT_GE(image.height(), 200);
        EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(image, name));
        contents.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        expectLegibleText(image, name);
        if (std::string(name) != "restore-choose.png") continue;
        bool accent = false;
        for (int y = 0; y < image.height() && !accent; ++y) {
            for (int x = 0; x < image.width() && !accent; ++x) {
                accent = image.pixel(x, y) == Style::accent(Style::Appearance::light).rgb();
            }
        }
        EXPECT_TRUE(accent);
    }
    EXPECT_EQ(contents.size(), 4u);
}

TEST(RestoreScreenshotsTest, AFolderThatCannotBeMadeEndsTheRunWithItsError) {
    const test::TempFolder temp("wm-shots");
    const fs::path blocker = temp.writeFile("blocker", "a file, not a folder");
    const auto outcome = testing::runProcess({WMRESTORE_PATH, "--screenshots", (blocker / "shots").string()});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_FALSE(outcome.err.empty());
    EXPECT_EQ(outcome.err.back(), '\n');
}
#endif

}  // namespace
}  // namespace wm

#include "app/window/RestoreScreenshots.h"

#include <QImage>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

#include "ProcessRun.h"
#include "app/window/WindowFixture.h"
#include "ui/Style.h"

namespace wm {
namespace {

namespace fs = std::filesystem;

QImage withColours(int width, int height, int colours, int dotSpacing) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(10, 10, 10));
    // Colours 2..n as single pixels on the sampling grid (dotSpacing apart).
    for (int i = 1; i < colours; ++i) {
        image.setPixel((i * dotSpacing) % width, ((i * dotSpacing) / width) * dotSpacing,
                       qRgb(20 + i * 20, 200 - i * 10, 5 * i));
    }
    return image;
}

TEST(RestoreScreenshotsTest, APictureNeedsMoreThanEightColoursToPass) {
    struct Case {
        int colours;
        bool passes;
    };
    for (const Case c : {Case{1, false}, Case{2, false}, Case{8, false}, Case{9, true}, Case{20, true}}) {
        // 640 x 320: the grid step is 5 pixels.
        const QImage image = withColours(640, 320, c.colours, 5);
        if (c.passes) {
            EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(image, "x.png")) << c.colours;
        } else {
            EXPECT_THROW(RestoreScreenshots::refuseIfBlank(image, "x.png"), RestoreScreenshots::Failure) << c.colours;
        }
    }
}

TEST(RestoreScreenshotsTest, TheRefusalNamesThePicture) {
    QImage flat(660, 200, QImage::Format_RGB32);
    flat.fill(Qt::white);
    try {
        RestoreScreenshots::refuseIfBlank(flat, "restore-open.png");
        FAIL() << "a flat picture passed";
    } catch (const RestoreScreenshots::Failure& failure) {
        EXPECT_EQ(failure.kind, RestoreScreenshots::Failure::Kind::nothingDrawn);
        EXPECT_EQ(failure.fileName, "restore-open.png");
        EXPECT_STREQ(failure.what(), "restore-open.png came out blank, so whatever it is a picture of did not draw.");
    }
    EXPECT_THROW(RestoreScreenshots::refuseIfBlank(QImage(), "empty.png"), RestoreScreenshots::Failure);
}

TEST(RestoreScreenshotsTest, ASmallPictureIsSampledAtEveryPixel) {
    // Shorter side under 64: every pixel counts, so colours one pixel apart are seen.
    EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(withColours(60, 40, 9, 1), "small.png"));
    // Dots between the grid points of a larger picture are not seen.
    EXPECT_THROW(RestoreScreenshots::refuseIfBlank(withColours(640, 640, 20, 3), "grid.png"),
                 RestoreScreenshots::Failure);
}

TEST(RestoreScreenshotsTest, APictureIsAtLeastTwoHundredHigh) {
    RestoreAppModel model;
    const QImage image = RestoreScreenshots::render(model, 660);
    EXPECT_EQ(image.width(), 660);
    EXPECT_GE(image.height(), 200);
}

#ifdef WMRESTORE_PATH
TEST(RestoreScreenshotsTest, TheScreenshotRunWritesFourDifferentPictures) {
    const fs::path folder = fs::path(::testing::TempDir()) / "wm-shots" / "nested";
    fs::remove_all(folder.parent_path());
    const auto outcome = testing::runProcess({WMRESTORE_PATH, "--screenshots", folder.string()},
                                             {"QT_QPA_PLATFORM=offscreen"});
    ASSERT_EQ(outcome.exitStatus, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "wmrestore-shot: wrote 4 screenshots to " + folder.string() + "\n");
    EXPECT_EQ(outcome.err, "");

    std::set<QByteArray> contents;
    for (const char* name : {"restore-open.png", "restore-wrong-key.png", "restore-choose.png", "restore-done.png"}) {
        SCOPED_TRACE(name);
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString((folder / name).string()), "PNG"));
        EXPECT_EQ(image.width(), 660);
        EXPECT_GE(image.height(), 200);
        EXPECT_NO_THROW(RestoreScreenshots::refuseIfBlank(image, name));
        contents.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        if (std::string(name) == "restore-choose.png") {
            // The chosen backup's mark is drawn in the accent colour.
            const QColor accent = Style::accent(Style::Appearance::light);
            bool found = false;
            for (int y = 0; y < image.height() && !found; ++y) {
                for (int x = 0; x < image.width() && !found; ++x) found = image.pixel(x, y) == accent.rgb();
            }
            EXPECT_TRUE(found);
        }
    }
    EXPECT_EQ(contents.size(), 4u);

    // A second run reuses the folder and overwrites the pictures.
    const auto again = testing::runProcess({WMRESTORE_PATH, "--screenshots", folder.string()},
                                           {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(again.exitStatus, 0) << again.err;
}

TEST(RestoreScreenshotsTest, AFolderThatCannotBeMadeEndsTheRunWithItsError) {
    const fs::path blocker = fs::path(::testing::TempDir()) / "wm-shots-blocker";
    fs::remove_all(blocker);
    { std::ofstream(blocker.string()) << "a file, not a folder"; }
    const auto outcome = testing::runProcess({WMRESTORE_PATH, "--screenshots", (blocker / "shots").string()},
                                             {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_EQ(outcome.out, "");
    EXPECT_FALSE(outcome.err.empty());
    EXPECT_EQ(outcome.err.back(), '\n');
    fs::remove(blocker);
}
#endif

}  // namespace
}  // namespace wm

#include "ui/SymbolPainter.h"

#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace wm {
namespace {

constexpr int kSide = 48;

QImage draw(const std::string& name, bool* drawn = nullptr) {
    QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const bool result = SymbolPainter::paint(painter, QRectF(0, 0, kSide, kSide), name, Qt::black);
    if (drawn) *drawn = result;
    return image;
}

int inkedPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) count += qAlpha(image.pixel(x, y)) > 128;
    }
    return count;
}

bool inked(const QImage& image, int x, int y) { return qAlpha(image.pixel(x, y)) > 128; }

TEST(SymbolPainterTest, EveryKnownSymbolDrawsSomethingInsideItsSquare) {
    for (const auto& name : SymbolPainter::names()) {
        bool drawn = false;
        const QImage image = draw(name, &drawn);
        EXPECT_TRUE(drawn) << name;
        const int ink = inkedPixels(image);
        EXPECT_GT(ink, kSide * kSide / 20) << name;
        EXPECT_LT(ink, kSide * kSide * 3 / 4) << name;
    }
}

TEST(SymbolPainterTest, AnUnknownNameDrawsNothing) {
    bool drawn = true;
    const QImage image = draw("folder.badge.questionmark", &drawn);
    EXPECT_FALSE(drawn);
    EXPECT_EQ(inkedPixels(image), 0);
    EXPECT_FALSE(SymbolPainter::knows("folder.badge.questionmark"));
}

TEST(SymbolPainterTest, TheSymbolsAreTellApart) {
    const int c = kSide / 2;
    // The chosen mark is filled in the middle, the plain circle is not.
    EXPECT_TRUE(inked(draw("largecircle.fill.circle"), c, c));
    EXPECT_FALSE(inked(draw("circle"), c, c));
    // The pupil of the eye is solid; the slashed eye differs from the open one.
    EXPECT_TRUE(inked(draw("eye"), c, c));
    EXPECT_NE(draw("eye"), draw("eye.slash"));
    // The filled triangle is solid beside its exclamation mark, the outline is not.
    EXPECT_TRUE(inked(draw("exclamationmark.triangle.fill"), c - 7, kSide * 3 / 4));
    EXPECT_FALSE(inked(draw("exclamationmark.triangle"), c - 7, kSide * 3 / 4));
}

TEST(SymbolPainterTest, TheCheckmarkIsCutOutOfItsCircle) {
    const QImage image = draw("checkmark.circle.fill");
    // Near the edge of the circle there is ink; along the check there is none.
    EXPECT_TRUE(inked(image, kSide / 2, 6));
    const double scale = kSide / 24.0;
    EXPECT_FALSE(inked(image, static_cast<int>(10.6 * scale), static_cast<int>(15.8 * scale)));
    EXPECT_FALSE(inked(image, static_cast<int>(13.7 * scale), static_cast<int>(12.2 * scale)));
}

TEST(SymbolPainterTest, APixmapIsTransparentOutsideTheSymbolAndHonoursThePixelRatio) {
    const QPixmap map = SymbolPainter::pixmap("circle", Qt::red, 16, 2.0);
    EXPECT_EQ(map.width(), 32);
    EXPECT_DOUBLE_EQ(map.devicePixelRatio(), 2.0);
    const QImage image = map.toImage();
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(16, 16)), 0);
}

// Without a font every text draws as nothing, and a picture can still pass a blank check.
TEST(FontTest, AFontIsInstalledAndTextDraws) {
    ASSERT_FALSE(QFontDatabase::families().isEmpty()) << "no font found: install fonts-dejavu-core";
    QImage image(200, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font;
    font.setPixelSize(20);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, 200, 40), Qt::AlignCenter, "Wendle Marsh");
    painter.end();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 128;
    }
    EXPECT_GT(dark, 100);
}

}  // namespace
}  // namespace wm

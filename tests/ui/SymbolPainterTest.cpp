#include "ui/SymbolPainter.h"

#include <gtest/gtest.h>
#include <QImage>
#include <QPainter>

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

int countPixels(const QImage& image, auto&& test) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += test(image.pixel(x, y));
    return count;
}

bool inked(QRgb pixel) { return qAlpha(pixel) > 128; }

TEST(SymbolPainterTest, EveryKnownSymbolDrawsInsideItsSquareAndAnUnknownOneNothing) {
    for (const auto& name : SymbolPainter::names()) {
        bool drawn = false;
        const int ink = countPixels(draw(name, &drawn), inked);
        EXPECT_TRUE(drawn) << name;
        EXPECT_GT(ink, kSide * kSide / 20) << name;
        EXPECT_LT(ink, kSide * kSide * 3 / 4) << name;
    }
    bool drawn = true;
    EXPECT_EQ(countPixels(draw("folder.badge.questionmark", &drawn), inked), 0);
    EXPECT_FALSE(drawn);
}

// Probes that tell the symbols apart: the chosen mark is filled, the plain circle is not; the
// eye has a pupil; the filled triangle is solid beside its mark; the check is cut out of its circle.
TEST(SymbolPainterTest, TheSymbolsAreToldApart) {
    const double scale = kSide / 24.0;
    const struct {
        const char* name;
        int x, y;
        bool ink;
    } probes[] = {
        {"largecircle.fill.circle", 24, 24, true},
        {"circle", 24, 24, false},
        {"eye", 24, 24, true},
        {"exclamationmark.triangle.fill", 17, 36, true},
        {"exclamationmark.triangle", 17, 36, false},
        {"checkmark.circle.fill", 24, 6, true},
        {"checkmark.circle.fill", int(10.6 * scale), int(15.8 * scale), false},
        {"checkmark.circle.fill", int(13.7 * scale), int(12.2 * scale), false},
    };
    for (const auto& p : probes)
        EXPECT_EQ(inked(draw(p.name).pixel(p.x, p.y)), p.ink) << p.name << " " << p.x << "," << p.y;
    EXPECT_NE(draw("eye"), draw("eye.slash"));
}

}  // namespace
}  // namespace wm

#include "ui/SymbolPainter.h"

#include <QImage>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>

#include "ui/Style.h"

namespace wm {

namespace {

// Every drawing is made in a 24 x 24 box and scaled into the target square.
constexpr qreal kBox = 24.0;

QPainterPath strokeOf(const QPainterPath& path, qreal width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path).simplified();
}

QPainterPath ellipse(qreal cx, qreal cy, qreal r) {
    QPainterPath p;
    p.addEllipse(QPointF(cx, cy), r, r);
    return p;
}

QPainterPath ring(qreal cx, qreal cy, qreal r, qreal width) {
    return ellipse(cx, cy, r + width / 2).subtracted(ellipse(cx, cy, r - width / 2));
}

QPainterPath checkmark() {
    QPainterPath p;
    p.moveTo(7.2, 12.4);
    p.lineTo(10.6, 15.8);
    p.lineTo(16.8, 8.6);
    return strokeOf(p, 2.4);
}

QPainterPath triangleOutline() {
    QPainterPath p;
    p.moveTo(12, 3.2);
    p.lineTo(21.6, 20.2);
    p.lineTo(2.4, 20.2);
    p.closeSubpath();
    return p;
}

QPainterPath exclamation() {
    QPainterPath bar;
    bar.moveTo(12, 8.8);
    bar.lineTo(12, 13.6);
    QPainterPath mark = strokeOf(bar, 2.2);
    mark.addEllipse(QPointF(12, 16.9), 1.25, 1.25);
    return mark.simplified();
}

QPainterPath eyeOutline() {
    QPainterPath p;
    p.moveTo(1.8, 12);
    p.cubicTo(5.0, 6.0, 9.0, 5.0, 12, 5.0);
    p.cubicTo(15.0, 5.0, 19.0, 6.0, 22.2, 12);
    p.cubicTo(19.0, 18.0, 15.0, 19.0, 12, 19.0);
    p.cubicTo(9.0, 19.0, 5.0, 18.0, 1.8, 12);
    p.closeSubpath();
    return p;
}

QPainterPath eye() {
    QPainterPath shape = strokeOf(eyeOutline(), 1.7);
    shape.addPath(ellipse(12, 12, 3.6));
    return shape.simplified();
}

QPainterPath eyeSlash() {
    QPainterPath slash;
    slash.moveTo(4.0, 3.2);
    slash.lineTo(20.0, 20.8);
    // A gap around the slash keeps it readable over the eye.
    QPainterPath gap = strokeOf(slash, 4.6);
    return eye().subtracted(gap).united(strokeOf(slash, 1.8)).simplified();
}

// A circle open at the top right, with its arrowhead pointing on counterclockwise.
QPainterPath arrowCounterclockwise() {
    constexpr qreal radius = 7.4;
    constexpr qreal startDegrees = 60;
    constexpr qreal sweepDegrees = 260;
    QPainterPath arc;
    const QRectF circle(12 - radius, 12 - radius, 2 * radius, 2 * radius);
    arc.arcMoveTo(circle, startDegrees);
    arc.arcTo(circle, startDegrees, sweepDegrees);
    // At the end of the arc: the tangent points on along the circle, the normal outwards.
    const qreal end = (startDegrees + sweepDegrees) * M_PI / 180.0;
    const QPointF base(12 + radius * std::cos(end), 12 - radius * std::sin(end));
    const QPointF along(-std::sin(end), -std::cos(end));
    const QPointF outwards(std::cos(end), -std::sin(end));
    QPainterPath head;
    head.moveTo(base + along * 4.6);
    head.lineTo(base + outwards * 3.6);
    head.lineTo(base - outwards * 3.6);
    head.closeSubpath();
    return strokeOf(arc, 2.4).united(head);
}

// The shields, question mark, dashed circle and failing drive of the status views.
QPainterPath shield() {
    QPainterPath p;
    p.moveTo(12, 2.4);
    p.cubicTo(15.2, 4.2, 18.0, 4.9, 20.4, 5.0);
    p.lineTo(20.4, 11.0);
    p.cubicTo(20.4, 16.4, 16.8, 19.9, 12, 21.8);
    p.cubicTo(7.2, 19.9, 3.6, 16.4, 3.6, 11.0);
    p.lineTo(3.6, 5.0);
    p.cubicTo(6.0, 4.9, 8.8, 4.2, 12, 2.4);
    p.closeSubpath();
    return p;
}

QPainterPath questionMark() {
    QPainterPath hook;
    hook.moveTo(9.2, 9.6);
    hook.cubicTo(9.2, 7.6, 10.6, 6.6, 12.1, 6.6);
    hook.cubicTo(13.8, 6.6, 15.0, 7.7, 15.0, 9.2);
    hook.cubicTo(15.0, 11.2, 12.1, 11.5, 12.1, 13.6);
    return strokeOf(hook, 2.0).united(ellipse(12.1, 17.0, 1.2));
}

QPainterPath dashedRing() {
    QPainterPathStroker stroker;
    stroker.setWidth(1.7);
    stroker.setDashPattern({2.2, 1.6});
    return stroker.createStroke(ellipse(12, 12, 9.4)).simplified();
}

QPainterPath driveWithCross() {
    QPainterPath drive;
    drive.addRoundedRect(QRectF(2.0, 10.0, 16.0, 9.0), 2.2, 2.2);
    QPainterPath cross;
    cross.moveTo(16.1, 5.1);
    cross.lineTo(19.9, 8.9);
    cross.moveTo(19.9, 5.1);
    cross.lineTo(16.1, 8.9);
    // The badge sits in a gap cut out of the drive.
    const QPainterPath body = strokeOf(drive, 1.7).united(ellipse(6.0, 14.5, 1.1)).subtracted(ellipse(18, 7, 6.2));
    return body.united(ellipse(18, 7, 4.8).subtracted(strokeOf(cross, 1.6)));
}

// The filled outline of a symbol in the 24 x 24 box; empty for an unknown name.
QPainterPath shapeOf(std::string_view name) {
    if (name == "circle") return ring(12, 12, 9.4, 1.7);
    if (name == "largecircle.fill.circle") return ring(12, 12, 9.4, 1.7).united(ellipse(12, 12, 5.4));
    if (name == "checkmark.circle.fill") return ellipse(12, 12, 10.2).subtracted(checkmark());
    if (name == "exclamationmark.triangle") {
        return strokeOf(triangleOutline(), 1.8).united(exclamation()).simplified();
    }
    if (name == "exclamationmark.triangle.fill") {
        // Rounded corners: the outline stroked wide and united with the triangle itself.
        QPainterPath body = triangleOutline().united(strokeOf(triangleOutline(), 1.8));
        return body.subtracted(exclamation());
    }
    if (name == "eye") return eye();
    if (name == "eye.slash") return eyeSlash();
    if (name == "arrow.counterclockwise") return arrowCounterclockwise();
    if (name == "checkmark.shield.fill") return shield().subtracted(checkmark());
    if (name == "exclamationmark.shield.fill") return shield().subtracted(exclamation());
    if (name == "questionmark.circle") return ring(12, 12, 9.4, 1.7).united(questionMark());
    if (name == "circle.dashed") return dashedRing();
    if (name == "externaldrive.badge.xmark") return driveWithCross();
    return {};
}

}  // namespace

const std::vector<std::string>& SymbolPainter::names() {
    static const std::vector<std::string> all = {"circle",
                                                 "largecircle.fill.circle",
                                                 "checkmark.circle.fill",
                                                 "exclamationmark.triangle",
                                                 "exclamationmark.triangle.fill",
                                                 "eye",
                                                 "eye.slash",
                                                 "arrow.counterclockwise",
                                                 "checkmark.shield.fill",
                                                 "exclamationmark.shield.fill",
                                                 "questionmark.circle",
                                                 "circle.dashed",
                                                 "externaldrive.badge.xmark"};
    return all;
}

bool SymbolPainter::knows(std::string_view name) {
    const auto& all = names();
    return std::find(all.begin(), all.end(), name) != all.end();
}

bool SymbolPainter::paint(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& colour) {
    if (!knows(name) || rect.isEmpty()) return false;
    const qreal side = std::min(rect.width(), rect.height());
    const qreal scale = side / kBox;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(scale, scale);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(shapeOf(name));
    painter.restore();
    return true;
}

QPixmap SymbolPainter::pixmap(std::string_view name, const QColor& colour, int side, qreal pixelRatio) {
    const int pixels = std::max(1, static_cast<int>(std::ceil(side * pixelRatio)));
    QPixmap map(pixels, pixels);
    map.setDevicePixelRatio(pixelRatio);
    map.fill(Qt::transparent);
    QPainter painter(&map);
    paint(painter, QRectF(0, 0, side, side), name, colour);
    return map;
}

QImage SymbolPainter::applicationIcon(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF square(side * 0.06, side * 0.06, side * 0.88, side * 0.88);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::accent(Style::Appearance::light));
    painter.drawRoundedRect(square, side * 0.2, side * 0.2);
    paint(painter, square.adjusted(side * 0.12, side * 0.12, -side * 0.12, -side * 0.12), "arrow.counterclockwise",
          Style::onAccent(Style::Appearance::light));
    return image;
}

SymbolView::SymbolView(std::string name, QColor colour, int side, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), colour_(colour), side_(side) {
    setFixedSize(side_, side_);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SymbolView::setSymbol(std::string name) {
    if (name == name_) return;
    name_ = std::move(name);
    update();
}

void SymbolView::setColour(QColor colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

QSize SymbolView::sizeHint() const { return {side_, side_}; }

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    SymbolPainter::paint(painter, QRectF(rect()), name_, colour_);
}

}  // namespace wm

#include "ui/StatusSymbols.h"

#include <QPainterPathStroker>

namespace wm::StatusSymbols {

namespace {

QPainterPath stroked(const QPainterPath& path, qreal width, QList<qreal> dashes = {}) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(dashes.isEmpty() ? Qt::RoundCap : Qt::FlatCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    if (!dashes.isEmpty()) stroker.setDashPattern(dashes);
    return stroker.createStroke(path).simplified();
}

QPainterPath circle(qreal cx, qreal cy, qreal r) {
    QPainterPath p;
    p.addEllipse(QPointF(cx, cy), r, r);
    return p;
}

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

QPainterPath check() {
    QPainterPath p;
    p.moveTo(8.0, 12.2);
    p.lineTo(11.0, 15.2);
    p.lineTo(16.2, 9.0);
    return stroked(p, 2.3);
}

QPainterPath exclamation(qreal top, qreal bottom, qreal dot) {
    QPainterPath bar;
    bar.moveTo(12, top);
    bar.lineTo(12, bottom);
    QPainterPath mark = stroked(bar, 2.2);
    mark.addPath(circle(12, dot, 1.25));
    return mark.simplified();
}

QPainterPath questionMark() {
    QPainterPath hook;
    hook.moveTo(9.2, 9.6);
    hook.cubicTo(9.2, 7.6, 10.6, 6.6, 12.1, 6.6);
    hook.cubicTo(13.8, 6.6, 15.0, 7.7, 15.0, 9.2);
    hook.cubicTo(15.0, 11.2, 12.1, 11.5, 12.1, 13.6);
    QPainterPath mark = stroked(hook, 2.0);
    mark.addPath(circle(12.1, 17.0, 1.2));
    return mark.simplified();
}

QPainterPath xmark(qreal cx, qreal cy, qreal half) {
    QPainterPath p;
    p.moveTo(cx - half, cy - half);
    p.lineTo(cx + half, cy + half);
    p.moveTo(cx + half, cy - half);
    p.lineTo(cx - half, cy + half);
    return stroked(p, 1.6);
}

}  // namespace

const std::vector<std::string>& names() {
    static const std::vector<std::string> all = {"checkmark.shield.fill", "exclamationmark.shield.fill",
                                                 "questionmark.circle", "circle.dashed", "externaldrive.badge.xmark"};
    return all;
}

QPainterPath shape(std::string_view name) {
    if (name == "checkmark.shield.fill") return shield().subtracted(check());
    if (name == "exclamationmark.shield.fill") return shield().subtracted(exclamation(7.4, 12.6, 16.2));
    if (name == "questionmark.circle") return stroked(circle(12, 12, 9.4), 1.7).united(questionMark());
    if (name == "circle.dashed") return stroked(circle(12, 12, 9.4), 1.7, {2.2, 1.6});
    if (name == "externaldrive.badge.xmark") {
        QPainterPath drive;
        drive.addRoundedRect(QRectF(2.0, 10.0, 16.0, 9.0), 2.2, 2.2);
        QPainterPath body = stroked(drive, 1.7).united(circle(6.0, 14.5, 1.1));
        // The badge sits on a gap cut out of the drive.
        return body.subtracted(circle(18.0, 7.0, 6.2)).united(circle(18.0, 7.0, 4.8).subtracted(xmark(18.0, 7.0, 1.9)));
    }
    return {};
}

}  // namespace wm::StatusSymbols

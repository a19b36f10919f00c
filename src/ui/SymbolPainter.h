#pragma once
// Our own drawings of the few symbols the window shows, keyed by the symbol names the
// product uses ("circle", "checkmark.circle.fill", ...), so the window never depends on
// an icon theme being installed.
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <QSize>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

namespace wm {

namespace SymbolPainter {

// The names that have a drawing.
const std::vector<std::string>& names();
bool knows(std::string_view name);
// Draws the symbol centred in rect, as large as the shorter side allows, in colour.
// Returns false (and draws nothing) for a name without a drawing.
bool paint(QPainter& painter, const QRectF& rect, std::string_view name, const QColor& colour);
// The symbol on a transparent square of side points, at the given pixel ratio.
QPixmap pixmap(std::string_view name, const QColor& colour, int side, qreal pixelRatio = 1.0);
// The application's icon, side pixels square: the restore arrow on a rounded square of the
// accent colour. Needs no running application, so a build step can write it to a file.
QImage applicationIcon(int side);

}  // namespace SymbolPainter

// A small widget that shows one symbol in one colour.
class SymbolView : public QWidget {
    Q_OBJECT

public:
    explicit SymbolView(std::string name, QColor colour, int side, QWidget* parent = nullptr);

    void setSymbol(std::string name);
    void setColour(QColor colour);
    const std::string& symbol() const { return name_; }
    QColor colour() const { return colour_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string name_;
    QColor colour_;
    int side_;
};

}  // namespace wm

#include "statusviews/StatusView.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <tuple>

#include "ui/SymbolPainter.h"

namespace wm::StatusView {

QSize pointSize(Family family) {
    switch (family) {
    case Family::systemSmall: return {170, 170};
    case Family::systemMedium: return {364, 170};
    case Family::systemLarge: return {364, 382};
    case Family::accessoryCircular: return {76, 76};
    case Family::accessoryRectangular: return {172, 76};
    case Family::accessoryInline: return {234, 26};
    }
    return {170, 170};
}

std::string_view familyName(Family family) {
    switch (family) {
    case Family::systemSmall: return "systemSmall";
    case Family::systemMedium: return "systemMedium";
    case Family::systemLarge: return "systemLarge";
    case Family::accessoryCircular: return "accessoryCircular";
    case Family::accessoryRectangular: return "accessoryRectangular";
    case Family::accessoryInline: return "accessoryInline";
    }
    return "systemSmall";
}

QColor colour(Colour colour, Appearance appearance) {
    const bool dark = appearance == Appearance::dark;
    switch (colour) {
    case Colour::primary: return dark ? QColor(0xFF, 0xFF, 0xFF) : QColor(0x00, 0x00, 0x00);
    // The legible grey: the translucent secondary label blended on a widget's
    // background falls below 4.5:1 against white.
    case Colour::secondary: return dark ? QColor(0xAE, 0xAE, 0xB2) : QColor(0x6C, 0x6C, 0x70);
    case Colour::green: return dark ? QColor(0x30, 0xD1, 0x58) : QColor(0x34, 0xC7, 0x59);
    case Colour::orange: return dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xFF, 0x95, 0x00);
    }
    return {};
}

QColor background(Appearance appearance) {
    return appearance == Appearance::dark ? QColor(0x1C, 0x1C, 0x1E) : QColor(0xFF, 0xFF, 0xFF);
}

Item Item::symbolImage(std::string name, TextStyle style, Colour colour) {
    return {Kind::symbol, {}, std::move(name), style, colour};
}
Item Item::textLine(std::string text, TextStyle style, Colour colour, int lineLimit) {
    return {Kind::text, std::move(text), {}, style, colour, lineLimit};
}
Item Item::label(std::string title, std::string icon, TextStyle style, int lineLimit) {
    return {Kind::label, std::move(title), std::move(icon), style, Colour::primary, lineLimit};
}
Item Item::spacer() { return {Kind::spacer}; }

namespace {

QFont fontFor(TextStyle style) {
    QFont font;
    switch (style) {
    case TextStyle::title2: font.setPixelSize(22); break;
    case TextStyle::headline:
        font.setPixelSize(15);
        font.setWeight(QFont::DemiBold);
        break;
    case TextStyle::caption: font.setPixelSize(12); break;
    case TextStyle::caption2: font.setPixelSize(11); break;
    }
    return font;
}

const QString kEllipsis = QStringLiteral("\u2026");

// The text cut to width with an ellipsis after the last whole word that fits beside it
// (trailing spaces and punctuation dropped); only a first word too long for the width is
// cut inside itself.
QString elided(const QString& whole, const QFontMetricsF& metrics, qreal width) {
    // More characters than this never show on one line, however narrow they are.
    const QString text = whole.left(static_cast<qsizetype>(width) * 4);
    QString kept = text;
    for (;;) {
        while (!kept.isEmpty() && (kept.back().isSpace() || kept.back().isPunct())) kept.chop(1);
        if (kept.isEmpty()) break;
        if (metrics.horizontalAdvance(kept + kEllipsis) <= width) return kept + kEllipsis;
        const qsizetype space = kept.lastIndexOf(QChar(' '));
        if (space <= 0) break;
        kept.truncate(space);
    }
    const QString cut = metrics.elidedText(text, Qt::ElideRight, width - metrics.horizontalAdvance(kEllipsis));
    return cut.endsWith(kEllipsis) ? cut : cut + kEllipsis;
}

// Lines of text wrapped at word boundaries to width; past lineLimit the last line kept
// ends in an ellipsis, as does a line whose one word is wider than width. Lines that
// would start below visibleHeight are never laid out: nothing there is seen, and a
// headline of a million characters must not take minutes to draw.
struct Wrapped {
    QStringList lines;
    qreal lineHeight = 0;
    qreal height() const { return lines.size() * lineHeight; }
};

Wrapped wrap(const std::string& text, const QFont& font, qreal width, int lineLimit, qreal visibleHeight) {
    const QString whole = QString::fromStdString(text);
    const QFontMetricsF metrics(font);
    QTextLayout layout(whole, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    Wrapped wrapped;
    wrapped.lineHeight = metrics.lineSpacing();
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const QString shown = whole.mid(line.textStart(), line.textLength());
        const bool last = lineLimit > 0 && wrapped.lines.size() == lineLimit - 1;
        const bool more = line.textStart() + line.textLength() < whole.size();
        wrapped.lines << ((last && more) || line.naturalTextWidth() > width ? elided(shown, metrics, width) : shown);
        if (last || wrapped.height() > visibleHeight) break;
    }
    layout.endLayout();
    return wrapped;
}

class Painter {
public:
    Painter(QPainter& painter, Appearance appearance, qreal visibleHeight)
        : p_(painter), appearance_(appearance), visibleHeight_(visibleHeight) {}

    // An unknown name draws an empty box of the symbol's size.
    void symbol(const std::string& name, const QRectF& rect, Colour tint) {
        const QColor c = colour(tint, appearance_);
        if (SymbolPainter::paint(p_, rect, name, c)) return;
        const qreal side = std::min(rect.width(), rect.height());
        p_.save();
        p_.setPen(QPen(c, 1.5));
        p_.setBrush(Qt::NoBrush);
        p_.drawRect(
            QRectF(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side).adjusted(1, 1, -1, -1));
        p_.restore();
    }

    qreal height(const Item& item, qreal width) const {
        const QFont font = fontFor(item.style);
        switch (item.kind) {
        case Item::Kind::symbol: return font.pixelSize();
        case Item::Kind::text: return wrap(item.text, font, width, item.lineLimit, visibleHeight_).height();
        case Item::Kind::label:
            return std::max<qreal>(
                font.pixelSize(),
                wrap(item.text, font, width - iconWidth(font), item.lineLimit, visibleHeight_).height());
        case Item::Kind::spacer: return 0;
        }
        return 0;
    }

    void draw(const Item& item, const QRectF& rect) {
        const QFont font = fontFor(item.style);
        switch (item.kind) {
        case Item::Kind::symbol:
            symbol(item.symbol, QRectF(rect.topLeft(), QSizeF(font.pixelSize(), font.pixelSize())), item.colour);
            break;
        case Item::Kind::text: text(item, font, rect); break;
        case Item::Kind::label: {
            const qreal side = font.pixelSize();
            const qreal lineHeight = QFontMetricsF(font).lineSpacing();
            symbol(item.symbol, QRectF(rect.left(), rect.top() + (lineHeight - side) / 2, side, side), item.colour);
            text(item, font, rect.adjusted(iconWidth(font), 0, 0, 0));
            break;
        }
        case Item::Kind::spacer: break;
        }
    }

    void text(const Item& item, const QFont& font, const QRectF& rect) {
        const Wrapped wrapped = wrap(item.text, font, rect.width(), item.lineLimit, visibleHeight_);
        p_.setFont(font);
        p_.setPen(colour(item.colour, appearance_));
        const qreal ascent = QFontMetricsF(font).ascent();
        for (int i = 0; i < wrapped.lines.size(); ++i)
            p_.drawText(QPointF(rect.left(), rect.top() + i * wrapped.lineHeight + ascent), wrapped.lines[i]);
    }

    // The lines the item takes at width, within its line limit.
    int lines(const Item& item, qreal width) const {
        const QFont font = fontFor(item.style);
        const qreal textWidth = item.kind == Item::Kind::label ? width - iconWidth(font) : width;
        return static_cast<int>(wrap(item.text, font, textWidth, item.lineLimit, visibleHeight_).lines.size());
    }

private:
    static qreal iconWidth(const QFont& font) { return font.pixelSize() + 4; }

    QPainter& p_;
    Appearance appearance_;
    qreal visibleHeight_;
};

// The inline family's one line: the first symbol (or label icon) at the text's size, then
// the first text (or label title), cut to the width.
void drawInline(Painter& painter, const Description& description, const QRectF& content) {
    auto first = [&](Item::Kind kind) {
        const auto found = std::find_if(description.items.begin(), description.items.end(), [&](const Item& item) {
            return item.kind == kind || item.kind == Item::Kind::label;
        });
        return found == description.items.end() ? nullptr : &*found;
    };
    const Item* symbol = first(Item::Kind::symbol);
    const Item* text = first(Item::Kind::text);
    const QFont font = fontFor(text ? text->style : TextStyle::headline);
    const qreal lineHeight = QFontMetricsF(font).lineSpacing();
    QRectF line(content.left(), content.center().y() - lineHeight / 2, content.width(), lineHeight);
    if (symbol) {
        const qreal side = font.pixelSize();
        painter.symbol(symbol->symbol, QRectF(line.left(), line.top() + (lineHeight - side) / 2, side, side),
                       symbol->colour);
        line.setLeft(line.left() + side + 4);
    }
    if (text) painter.text(Item::textLine(text->text, text->style, text->colour, 1), font, line);
}

}  // namespace

QImage render(const Description& description, Family family, Appearance appearance, qreal scale) {
    const QSize points = pointSize(family);
    QImage image(QSize(qRound(points.width() * scale), qRound(points.height() * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(background(appearance));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    Painter painter(p, appearance, points.height());
    const QRectF bounds(QPointF(0, 0), QSizeF(points));
    p.setClipRect(bounds);

    if (description.items.empty()) return image;
    if (family == Family::accessoryCircular) {
        // The one symbol, centred, at most two thirds of the circle.
        const Item& item = description.items.front();
        const qreal side = points.width() * 2.0 / 3.0;
        painter.symbol(item.symbol, QRectF(bounds.center() - QPointF(side / 2, side / 2), QSizeF(side, side)),
                       item.colour);
        return image;
    }
    const qreal padding = family == Family::accessoryInline ? 2 : family == Family::accessoryRectangular ? 4 : 16;
    const QRectF content = bounds.adjusted(padding, padding, -padding, -padding);
    if (family == Family::accessoryInline) {
        drawInline(painter, description, content);
        return image;
    }

    // Items after a spacer sit at the bottom. They are never lost: when they would not
    // fit, the texts above them give up lines, the one with the most lines first.
    std::vector<Item> items = description.items;
    const auto spacer =
        std::find_if(items.begin(), items.end(), [](const Item& i) { return i.kind == Item::Kind::spacer; });
    auto heightOf = [&](auto from, auto to) {
        qreal total = 0;
        for (auto item = from; item != to; ++item)
            total += painter.height(*item, content.width()) + description.spacing;
        return total;
    };
    const bool bottom = spacer != items.end() && spacer + 1 != items.end();
    const qreal bottomHeight = bottom ? heightOf(spacer + 1, items.end()) - description.spacing : 0;
    while (bottom && heightOf(items.begin(), spacer + 1) + bottomHeight > content.height()) {
        Item* longest = nullptr;
        int most = 1;
        for (auto item = items.begin(); item != spacer; ++item) {
            if (item->kind != Item::Kind::text && item->kind != Item::Kind::label) continue;
            const int count = painter.lines(*item, content.width());
            if (count > 1 && count >= most) std::tie(longest, most) = std::tuple(&*item, count);
        }
        if (!longest) break;
        longest->lineLimit = most - 1;
    }

    const qreal bottomTop = content.bottom() - bottomHeight;
    if (bottom) p.setClipRect(QRectF(bounds.topLeft(), QPointF(bounds.right(), bottomTop)));
    qreal y = content.top();
    for (const Item& item : items) {
        if (item.kind == Item::Kind::spacer) {
            p.setClipRect(bounds);
            y = bottomTop;
            continue;
        }
        const qreal h = painter.height(item, content.width());
        painter.draw(item, QRectF(content.left(), y, content.width(), h));
        y += h + description.spacing;
    }
    return image;
}

}  // namespace wm::StatusView

#pragma once
// The plain description of what a status view draws (a stack of symbols, texts and labels
// with their styles, colours, line limits and accessibility labels) and the one renderer
// that draws a description into an image of a widget family's size.
#include <QColor>
#include <QImage>
#include <QSize>
#include <string>
#include <string_view>
#include <vector>

namespace wm::StatusView {

enum class Family { systemSmall, systemMedium, systemLarge, accessoryCircular, accessoryRectangular, accessoryInline };

// In points: 170x170, 364x170, 364x382, 76x76, 172x76, 234x26.
QSize pointSize(Family family);
std::string_view familyName(Family family);  // "systemSmall", ...

enum class TextStyle { title2, headline, caption, caption2 };
// The system colours the views use, not the restore window's style.
enum class Colour { primary, secondary, green, orange };
enum class Appearance { light, dark };

QColor colour(Colour colour, Appearance appearance);
QColor background(Appearance appearance);

struct Item {
    enum class Kind { symbol, text, label, spacer };
    Kind kind = Kind::text;
    std::string text;    // a text, or a label's title
    std::string symbol;  // a symbol, or a label's icon
    TextStyle style = TextStyle::headline;
    Colour colour = Colour::primary;
    int lineLimit = 0;  // 0: as many lines as the text needs
    bool hiddenFromAccessibility = false;
    std::string accessibilityLabel;  // read instead of the item's own text

    static Item symbolImage(std::string name, TextStyle style, Colour colour = Colour::primary);
    static Item textLine(std::string text, TextStyle style, Colour colour = Colour::primary, int lineLimit = 0);
    static Item label(std::string title, std::string icon, TextStyle style, int lineLimit = 0);
    static Item spacer();

    friend bool operator==(const Item&, const Item&) = default;
};

// Items stacked from the top with spacing points between them, leading aligned; the items
// after a spacer sit at the bottom, and when they would not fit, the texts above give up
// lines (ending in an ellipsis) rather than push them out. A circular family centres its
// first item's symbol; an inline family draws its first symbol and first text on one line.
struct Description {
    double spacing = 0;
    std::vector<Item> items;
    friend bool operator==(const Description&, const Description&) = default;
};

// The description drawn on the appearance's background, at scale pixels per point.
QImage render(const Description& description, Family family, Appearance appearance, qreal scale);

}  // namespace wm::StatusView

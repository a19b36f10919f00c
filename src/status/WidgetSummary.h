#pragma once
// The words the widget shows at its two sizes, and how stale a record has grown.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Date.h"
#include "status/ScreenStanding.h"

namespace wm::WidgetSummary {

enum class Size { small, medium };

struct Content {
    std::string headline;
    std::optional<std::string> detail;
    bool needsAttention = false;
    Date asOf;
    friend bool operator==(const Content&, const Content&) = default;
};

// Seconds after which a record is stale (inclusive).
inline constexpr double staleAfter = 10'800;

// "as of <age>" once asOf lies staleAfter or more before now; nothing while fresh.
std::optional<std::string> stalenessNote(Date asOf, Date now);

// small: "Backed up <age>" or nothing; medium: "Backed up <age>. <n> confirmed copies."
// or "Never backed up.".
Content content(const ScreenStanding::Headline& standing, const std::optional<Date>& lastSuccess, std::int64_t copies,
                Size size, Date now);

}  // namespace wm::WidgetSummary

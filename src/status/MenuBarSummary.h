#pragma once
// The menu-bar item: one icon of four and one short line, derived from the main-screen
// headline so the menu bar never says what the main screen does not.
#include <optional>
#include <string>

#include "core/Date.h"
#include "status/ScreenStanding.h"

namespace wm::MenuBarSummary {

enum class Icon { protected_, working, needsAttention, idle };

// The icon's symbol image name.
std::string symbol(Icon icon);

struct Summary {
    Icon icon = Icon::idle;
    std::string line;
    friend bool operator==(const Summary&, const Summary&) = default;
};

// For when no backup is open at all; made once.
const Summary& nothingOpen();

Summary summary(const ScreenStanding::Headline& standing, bool isWorking, const std::optional<Date>& lastSuccess,
                Date now);

}  // namespace wm::MenuBarSummary

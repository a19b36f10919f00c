#pragma once
// The drawings of the symbols only the status views use (shields, the question mark,
// the dashed circle, the failing drive), in the symbol painter's 24 x 24 box. The
// painter draws them beside its own, so callers only ever ask SymbolPainter.
#include <QPainterPath>
#include <string>
#include <string_view>
#include <vector>

namespace wm::StatusSymbols {

const std::vector<std::string>& names();
// The filled outline in the 24 x 24 box; empty for a name not drawn here.
QPainterPath shape(std::string_view name);

}  // namespace wm::StatusSymbols

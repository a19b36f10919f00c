#pragma once
// The desktop widget: the status record's symbol in its tone's colour, the headline, a
// detail line and, once the record has grown old, a note saying how old.
#include <QImage>
#include <optional>

#include "core/Date.h"
#include "status/WidgetState.h"
#include "status/WidgetSummary.h"
#include "statusviews/StatusView.h"

namespace wm {

class ProtectionWidgetView {
public:
    // date is the moment the view stands for: every age shown is measured against it.
    ProtectionWidgetView(WidgetState state, Date date, StatusView::Family family)
        : state_(std::move(state)), date_(date), family_(family) {}

    // The summary size the family asks for; nothing for the circular family, which shows no detail.
    std::optional<WidgetSummary::Size> summarySize() const;
    StatusView::Description body() const;
    QImage render(StatusView::Appearance appearance, qreal scale) const {
        return StatusView::render(body(), family_, appearance, scale);
    }

private:
    std::optional<std::string> detail() const;

    WidgetState state_;
    Date date_;
    StatusView::Family family_;
};

}  // namespace wm

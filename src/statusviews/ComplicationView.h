#pragma once
// The watch complication: a shield in the circular family, a symbol with a short word
// inline, and a symbol, word and sentence in the larger families.
#include <QImage>

#include "core/Date.h"
#include "status/WatchSummary.h"
#include "statusviews/StatusView.h"

namespace wm {

class ComplicationView {
public:
    // date is the now of the sentence; the summary is the snapshot's own, never worked out again.
    ComplicationView(WatchSummary::Snapshot snapshot, Date date, StatusView::Family family)
        : snapshot_(std::move(snapshot)), date_(date), family_(family) {}

    StatusView::Description body() const;
    QImage render(StatusView::Appearance appearance, qreal scale) const {
        return StatusView::render(body(), family_, appearance, scale);
    }

private:
    WatchSummary::Snapshot snapshot_;
    Date date_;
    StatusView::Family family_;
};

}  // namespace wm

#pragma once
// One row of the backup list: the mark, the date line and the detail line. The rows of one
// list behave as radio buttons: a click anywhere in the row, its empty end and its padding
// included, chooses it; Tab reaches the list, the arrow keys move the choice, Space or Return
// chooses the row that has the focus; assistive technology hears a radio button named by
// the row's date and detail, checked when it is the chosen one.
#include <QAbstractButton>
#include <functional>

#include "app/RestoreAppModel.h"
#include "app/window/Widgets.h"

namespace wm {

class BackupRow : public QAbstractButton {
    Q_OBJECT

public:
    BackupRow(const RestoreAppModel::Backup& backup, bool chosen, std::function<void()> choose,
              QWidget* parent = nullptr);

    const SnapshotID& id() const { return id_; }
    bool isChosen() const { return isChecked(); }
    void setChosen(bool chosen);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool hitButton(const QPoint& position) const override;

private:
    void updateMark();

    SnapshotID id_;
    SymbolView* mark_;
};

}  // namespace wm

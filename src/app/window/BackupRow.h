#pragma once
// One row of the backup list: the mark, the date line and the detail line. A click
// anywhere in the row, its empty end and its padding included, chooses it.
#include <QWidget>
#include <functional>

#include "app/RestoreAppModel.h"
#include "app/window/Widgets.h"

namespace wm {

class BackupRow : public QWidget {
    Q_OBJECT

public:
    BackupRow(const RestoreAppModel::Backup& backup, bool chosen, std::function<void()> choose,
              QWidget* parent = nullptr);

    const SnapshotID& id() const { return id_; }
    bool isChosen() const { return chosen_; }
    void setChosen(bool chosen);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateMark();

    SnapshotID id_;
    bool chosen_ = false;
    bool pressed_ = false;
    std::function<void()> choose_;
    SymbolView* mark_;
};

}  // namespace wm

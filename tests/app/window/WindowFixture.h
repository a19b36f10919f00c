#pragma once
// A restore window over a fresh model, with the desktop calls replaced by recorders.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/RestoreAppModel.h"
#include "app/window/BackupRow.h"
#include "app/window/RestoreWindow.h"
#include "app/window/Widgets.h"

namespace wm::testing {

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        WindowPlatform platform;
        platform.pickFolder = [this](QWidget*) { return ++pickerCalls, pickedFolder; };
        platform.showInFileManager = [this](const std::string& folder) { shownFolders.push_back(folder); };
        window = std::make_unique<RestoreWindow>(model, platform);
        window->show();
        settle();
    }

    // Posted changes first, then the widgets they added are shown and laid out.
    void settle() {
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
    }
    // Lets the worker finish and the window catch up with the model.
    void finishWork() {
        window->waitForWork();
        settle();
    }
    void click(const char* button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

    template <class T = QWidget>
    T* find(const char* name) const { return window->findChild<T*>(name); }
    template <class T = QWidget>
    QList<T*> findAll(const char* name) const { return window->findChildren<T*>(name); }
    // Shown: not hidden itself nor inside a hidden screen of the window.
    bool shown(const char* name) const { return find(name) && find(name)->isVisibleTo(window.get()); }

    RestoreAppModel model;
    std::unique_ptr<RestoreWindow> window;
    std::optional<std::string> pickedFolder;
    int pickerCalls = 0;
    std::vector<std::string> shownFolders;
};

// count rows an hour apart.
inline std::vector<RestoreAppModel::Backup> backupRows(int count) {
    std::vector<RestoreAppModel::Backup> rows(count);
    for (int i = 0; i < count; ++i) {
        rows[i].id = SnapshotID::random();
        rows[i].createdAt = Date::fromSeconds(1700000000.0 - 3600 * (i + 1));
    }
    return rows;
}

}  // namespace wm::testing

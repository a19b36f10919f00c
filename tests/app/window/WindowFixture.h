#pragma once
// A restore window over a fresh model, with the desktop calls replaced by recorders.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/RestoreAppModel.h"
#include "app/window/RestoreWindow.h"

namespace wm::testing {

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        WindowPlatform platform;
        platform.pickFolder = [this](QWidget*) {
            ++pickerCalls;
            return pickedFolder;
        };
        platform.showInFileManager = [this](const std::string& folder) { shownFolders.push_back(folder); };
        window = std::make_unique<RestoreWindow>(model, platform);
        window->show();
        settle();
    }
    void TearDown() override { window.reset(); }

    // Lets the window apply what the model posted.
    void settle() {
        // Posted changes first, then the widgets they added are shown and laid out.
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
    }

    template <class T = QWidget>
    T* find(const char* name) const {
        return window->findChild<T*>(name);
    }
    template <class T = QWidget>
    QList<T*> findAll(const char* name) const {
        return window->findChildren<T*>(name);
    }
    // Shown: not hidden itself nor inside a hidden screen of the window.
    bool shown(const QWidget* widget) const { return widget && widget->isVisibleTo(window.get()); }

    RestoreAppModel model;
    std::unique_ptr<RestoreWindow> window;
    std::optional<std::string> pickedFolder;
    int pickerCalls = 0;
    std::vector<std::string> shownFolders;
};

inline RestoreAppModel::Backup backupRow(int secondsAgo, std::uint64_t files = 10, std::uint64_t bytes = 2000,
                                         std::vector<std::string> folders = {"/home/you/Documents"}) {
    RestoreAppModel::Backup row;
    row.id = SnapshotID::random();
    row.createdAt = Date::fromSeconds(1700000000.0 - secondsAgo);
    row.files = files;
    row.bytes = bytes;
    row.folders = std::move(folders);
    return row;
}

inline std::vector<RestoreAppModel::Backup> backupRows(int count) {
    std::vector<RestoreAppModel::Backup> rows;
    for (int i = 0; i < count; ++i) rows.push_back(backupRow(3600 * (i + 1)));
    return rows;
}

}  // namespace wm::testing

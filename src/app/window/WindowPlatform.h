#pragma once
// What the window asks of the desktop: a folder picker and the file manager. Both are
// replaceable, so tests can stand in for them.
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

namespace wm {

struct WindowPlatform {
    // Lets the person choose one folder (creating folders allowed); none when cancelled.
    std::function<std::optional<std::string>(QWidget* parent)> pickFolder;
    // Shows the folder in the desktop's file manager.
    std::function<void(const std::string& folder)> showInFileManager;

    // Qt's folder dialog; the freedesktop FileManager1 ShowItems call over D-Bus, and
    // opening the folder when no file manager answers.
    static WindowPlatform system();
};

}  // namespace wm

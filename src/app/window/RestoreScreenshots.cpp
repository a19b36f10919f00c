#include "app/window/RestoreScreenshots.h"

#include <QCoreApplication>
#include <QPixmap>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>

#include "app/AppPaths.h"
#include "app/window/RestoreWindow.h"
#include "ui/OffscreenRun.h"

namespace wm::RestoreScreenshots {

namespace {

namespace fs = std::filesystem;

RestoreAppModel::Backup demoRow(double secondsAgo, std::uint64_t files, std::uint64_t bytes) {
    RestoreAppModel::Backup row;
    row.id = SnapshotID::random();
    row.createdAt = Date::now().adding(-secondsAgo);
    row.files = files;
    row.bytes = bytes;
    row.folders = {"/home/you/Documents"};
    return row;
}

RestoreCoordinator::Result demoResult() {
    RestoreCoordinator::Result result;
    result.filesRestored = 48215;
    result.directoriesRestored = 3902;
    result.symlinksRestored = 44;
    result.hardLinksRestored = 0;
    result.skipped.push_back(
        RestoreCoordinator::Result::Skipped{"/home/you/Documents/.socket", "sockets are not recreated"});
    result.unpreserved.push_back(
        RestoreCoordinator::Result::Unpreserved{"/home/you/Documents/Tax", "owner", "not running as root"});
    return result;
}

struct Picture {
    const char* fileName;
    std::function<void(RestoreAppModel&)> setUp;
};

}  // namespace

Failure Failure::nothingDrawn(std::string fileName) {
    std::string description = fileName + " came out blank, so whatever it is a picture of did not draw.";
    return Failure(Kind::nothingDrawn, std::move(fileName), description);
}

void refuseIfBlank(const QImage& image, const std::string& name) {
    if (OffscreenRun::isBlank(image)) throw Failure::nothingDrawn(name);
}

QImage render(RestoreAppModel& model, int width) {
    RestoreWindow window(model, WindowPlatform{});
    // Never on a screen, and drawn as the active window although it never has the focus.
    window.setAttribute(Qt::WA_DontShowOnScreen, true);
    QPalette active = window.palette();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = static_cast<QPalette::ColorRole>(role);
        active.setColor(QPalette::Inactive, r, active.color(QPalette::Active, r));
    }
    window.setPalette(active);
    window.show();
    QCoreApplication::processEvents();
    const int height = std::max(200, window.contentHeight());
    window.setFixedSize(width, height);
    QCoreApplication::processEvents();
    QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    window.hide();
    return image;
}

void write(const std::string& folder, std::ostream& out) {
    fs::create_directories(fs::path(folder));  // an existing folder is fine; failures throw
    const std::string backupPath = "/media/you/Backup/Wendle Marsh";
    // Demonstration data, the same on every machine.
    const std::string restored = "/home/you/Restored";

    const Picture pictures[] = {
        {"restore-open.png", [](RestoreAppModel&) {}},
        {"restore-wrong-key.png",
         [&](RestoreAppModel& model) {
             model.setBackupPath(backupPath);
             model.setPhase(RestoreAppModel::Phase::closed());
             model.setProblem(RestoreAppModel::wrongSecretSentence());
         }},
        {"restore-choose.png",
         [&](RestoreAppModel& model) {
             model.setBackupPath(backupPath);
             model.setRestoreInto(restored);
             model.showForScreenshot({demoRow(3600, 48215, 214000000000ULL), demoRow(90000, 48190, 213400000000ULL),
                                      demoRow(700000, 47002, 209100000000ULL)});
         }},
        {"restore-done.png",
         [&](RestoreAppModel& model) {
             model.setPhase(RestoreAppModel::Phase::finished(demoResult(), AppPaths::standardised(restored)));
         }},
    };

    for (const Picture& picture : pictures) {
        RestoreAppModel model;
        picture.setUp(model);
        const QImage image = render(model, pictureWidth);
        refuseIfBlank(image, picture.fileName);
        const fs::path file = fs::path(folder) / picture.fileName;
        if (!image.save(QString::fromStdString(file.string()), "PNG")) {
            throw wm::Error("could not write " + file.string());
        }
    }
    out << "wmrestore-shot: wrote 4 screenshots to " << AppPaths::standardised(folder) << "\n";
    out.flush();
}

}  // namespace wm::RestoreScreenshots

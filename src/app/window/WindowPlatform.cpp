#include "app/window/WindowPlatform.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace wm {

namespace {

std::optional<std::string> pickWithDialog(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return chosen.front().toStdString();
}

void showWithFileManager(const std::string& folder) {
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(folder));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(url);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{url.toString()} << QString();
    // Asked without waiting, so the window never hangs on a file manager that is slow to
    // start; when none answers, the folder is opened instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [url](QDBusPendingCallWatcher* done) {
        if (done->isError()) QDesktopServices::openUrl(url);
        done->deleteLater();
    });
}

}  // namespace

WindowPlatform WindowPlatform::system() { return WindowPlatform{pickWithDialog, showWithFileManager}; }

}  // namespace wm

// wmrestore: the restore application. The arguments are read before anything of Qt
// exists, so the self-check and the headless restore run without a display; only the
// screenshot run and the window start Qt.
#include <QApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/RestoreAppModel.h"
#include "app/window/RestoreScreenshots.h"
#include "app/window/RestoreWindow.h"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    // The window's model is made first, so every mode proves it can be made.
    wm::RestoreAppModel windowModel;
    const wm::CommandLine::Mode mode = wm::CommandLine::choose(arguments);

    switch (mode.kind) {
    case wm::CommandLine::Mode::Kind::selfCheck: return wm::CommandLine::runSelfCheck(std::cout, std::cerr);
    case wm::CommandLine::Mode::Kind::headlessRestore:
        return wm::CommandLine::runHeadlessRestore(mode, std::cout, std::cerr);
    case wm::CommandLine::Mode::Kind::screenshots: {
        // The pictures are drawn off screen; a machine without a display can make them.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The run prints its own lines only; Qt's notes about the off-screen platform
        // are not for the person running it.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtFatalMsg) std::cerr << message.toStdString() << "\n" << std::flush;
        });
        QApplication application(argc, argv);
        try {
            wm::RestoreScreenshots::write(mode.screenshotFolder, std::cout);
            return 0;
        } catch (const std::exception& error) {
            std::cerr << error.what() << "\n" << std::flush;
            return 1;
        }
    }
    case wm::CommandLine::Mode::Kind::window: break;
    }

    QApplication application(argc, argv);
    wm::RestoreWindow::setUpDesktopIdentity();
    wm::RestoreWindow window(windowModel);
    window.show();
    return application.exec();
}

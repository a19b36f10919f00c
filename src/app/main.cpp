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
#include "ui/OffscreenRun.h"

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
        wm::OffscreenRun::prepare("wmrestore");
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

    if (const auto refusal = wm::CommandLine::windowRefusal()) {
        std::cerr << *refusal << "\n" << std::flush;
        return 1;
    }

    QApplication application(argc, argv);
    wm::RestoreWindow::setUpDesktopIdentity();
    wm::RestoreWindow window(windowModel);
    window.show();
    return application.exec();
}

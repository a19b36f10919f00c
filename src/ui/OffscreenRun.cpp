#include "ui/OffscreenRun.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdio>

namespace wm::OffscreenRun {

namespace {
const char* programName = "";
}

void prepare(const char* program) {
    programName = program;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s: %s\n", programName, message.toLocal8Bit().constData());
    });
}

}  // namespace wm::OffscreenRun

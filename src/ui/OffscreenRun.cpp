#include "ui/OffscreenRun.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <unordered_set>

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

bool isBlank(const QImage& image) {
    const int w = image.width();
    const int h = image.height();
    const int step = std::max(1, std::min(w, h) / 64);
    std::unordered_set<std::uint32_t> colours;
    for (int y = 0; y < h; y += step) {
        for (int x = 0; x < w; x += step) {
            colours.insert(static_cast<std::uint32_t>(image.pixel(x, y)) & 0xFFFFFFu);
            if (colours.size() > 8) return false;
        }
    }
    return true;
}

}  // namespace wm::OffscreenRun

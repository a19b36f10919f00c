#include "core/AnomalyReport.h"

namespace wm {

namespace {

bool unusual(std::int64_t affected, std::int64_t known) {
    if (affected < AnomalyReport::minimumAffectedFiles || known <= 0) return false;
    return static_cast<double>(affected) >= AnomalyReport::minimumShare * static_cast<double>(known);
}

}  // namespace

std::optional<AnomalyReport> AnomalyReport::evaluate(const Changes& changes, Date now) {
    AnomalyReport report;
    report.detectedAt = now;
    if (unusual(changes.deletedFiles, changes.knownFiles))
        report.signals.push_back({AnomalySignal::Kind::manyDeleted, changes.deletedFiles, changes.knownFiles});
    if (unusual(changes.modifiedFiles, changes.knownFiles))
        report.signals.push_back({AnomalySignal::Kind::manyModified, changes.modifiedFiles, changes.knownFiles});
    if (report.signals.empty()) return std::nullopt;
    return report;
}

}  // namespace wm

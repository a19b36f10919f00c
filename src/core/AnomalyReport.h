#pragma once
// Change-anomaly detection: a backup run that finds an unusual share of the files it
// knew deleted or rewritten (the mark of a mistaken bulk operation or of ransomware)
// raises signals; the snapshot is flagged and protected until someone looks.
#include <cstdint>
#include <optional>
#include <vector>

#include "core/Date.h"

namespace wm {

struct AnomalySignal {
    enum class Kind { manyDeleted, manyModified };
    Kind kind = Kind::manyDeleted;
    std::int64_t affectedFiles = 0;  // files deleted or modified
    std::int64_t knownFiles = 0;     // files of the previous backup

    friend bool operator==(const AnomalySignal&, const AnomalySignal&) = default;
};

struct AnomalyReport {
    // A signal needs at least this many affected files...
    static constexpr std::int64_t minimumAffectedFiles = 100;
    // ...and at least this share of the files the previous backup held.
    static constexpr double minimumShare = 0.5;

    struct Changes {
        std::int64_t knownFiles = 0;  // files in the previous backup
        std::int64_t deletedFiles = 0;
        std::int64_t modifiedFiles = 0;
    };

    std::vector<AnomalySignal> signals;
    Date detectedAt;

    // A report when any signal is raised; nothing for an ordinary run.
    static std::optional<AnomalyReport> evaluate(const Changes& changes, Date now);

    friend bool operator==(const AnomalyReport&, const AnomalyReport&) = default;
};

}  // namespace wm

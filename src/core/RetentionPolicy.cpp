#include "core/RetentionPolicy.h"

namespace wm {

bool operator==(const RetentionPolicy& a, const RetentionPolicy& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case RetentionPolicy::Kind::lastN: return a.count == b.count;
    case RetentionPolicy::Kind::duration: return a.days == b.days;
    case RetentionPolicy::Kind::smart:
        return a.hourly == b.hourly && a.daily == b.daily && a.monthly == b.monthly && a.yearly == b.yearly;
    case RetentionPolicy::Kind::size: return a.bytes == b.bytes;
    }
    return false;
}

bool operator==(const HoldReason& a, const HoldReason& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
    case HoldReason::Kind::userRequested: return a.note == b.note;
    case HoldReason::Kind::verificationFailure: return a.snapshot == b.snapshot;
    case HoldReason::Kind::anomalyDetected: return true;
    }
    return false;
}

}  // namespace wm

#include "policy/EmptyBackupCheck.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::EmptyBackupCheck {

Verdict look(std::optional<std::uint64_t> previous, std::uint64_t current, bool sourceExists, std::string_view path) {
    if (!sourceExists) return Verdict::sourceMissing(std::string(path));
    if (!previous || *previous < smallestMeaningfulSet) return Verdict::proceed();
    const std::uint64_t lost = *previous - std::min(current, *previous);
    const double share = static_cast<double>(lost) / static_cast<double>(*previous);
    if (share >= vanishedShare) return Verdict::suspiciouslyEmpty(*previous, current);
    return Verdict::proceed();
}

std::optional<std::string> Verdict::shortReason(std::string_view source) const {
    switch (kind) {
    case Kind::suspiciouslyEmpty: return WM_L("%@ looks empty, so nothing was recorded.", source);
    case Kind::sourceMissing: return WM_L("%@ is not there, so nothing was recorded.", source);
    case Kind::proceed: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> Verdict::sentence(std::string_view source) const {
    switch (kind) {
    case Kind::suspiciouslyEmpty:
        return WM_L(
            "%@ has %@ in it, and had %@ at the last backup. Nothing was changed. If a drive is not "
            "connected, connect it. If you meant to empty it, back up again and this will be accepted.",
            source, Phrasing::count(now, "file"), Phrasing::count(was, "file"));
    case Kind::sourceMissing:
        return WM_L(
            "%@ is not there, so nothing was backed up from it and nothing in your backup was changed. "
            "This is usually a drive that is not connected.",
            path);
    case Kind::proceed: return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace wm::EmptyBackupCheck

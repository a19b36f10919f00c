#include "policy/CopyCount.h"

#include "core/Localization.h"
#include "core/Phrasing.h"

namespace wm::CopyCount {

std::string sentence(std::int64_t confirmed) {
    if (confirmed <= 0) return WM_L("Nothing has been copied anywhere yet.");
    if (confirmed == 1)
        return WM_L(
            "One confirmed copy. A second location in a different place is what protects you from losing this "
            "one.");
    if (confirmed == 2) return WM_L("Two confirmed copies.");
    return Phrasing::grouped(confirmed) + " confirmed copies.";
}

}  // namespace wm::CopyCount

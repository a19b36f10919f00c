#include "policy/AppLocation.h"

#include "core/Localization.h"

namespace wm {

AppLocation AppLocation::of(std::string_view bundlePath) {
    if (bundlePath.find("/AppTranslocation/") != std::string_view::npos) return temporaryCopy;
    if (bundlePath.starts_with("/Volumes/")) return diskImage;
    return installed;
}

std::optional<std::string> AppLocation::sentence() const {
    switch (case_) {
    case installed: return std::nullopt;
    case temporaryCopy:
        return WM_L(
            "Wendle Marsh is running from a temporary copy, because it is still in the folder it was "
            "downloaded to. Backups cannot run on a schedule from here. Drag Wendle Marsh into your "
            "Applications folder and open it again.");
    case diskImage:
        return WM_L(
            "Wendle Marsh is running from the disk image it arrived in. Backups cannot run on a schedule "
            "from here, and the app disappears when the image is ejected. Drag Wendle Marsh into your "
            "Applications folder and open it from there.");
    }
    return std::nullopt;
}

}  // namespace wm

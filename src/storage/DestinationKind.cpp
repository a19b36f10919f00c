#include "storage/DestinationKind.h"

namespace wm {

std::string cloudProviderName(CloudProvider provider) {
    switch (provider) {
    case CloudProvider::systemCloudDrive: return "systemCloudDrive";
    case CloudProvider::dropbox: return "dropbox";
    case CloudProvider::googleDrive: return "googleDrive";
    case CloudProvider::oneDrive: return "oneDrive";
    case CloudProvider::box: return "box";
    case CloudProvider::other: return "other";
    }
    return "other";
}

std::string DestinationKind::description() const {
    switch (case_) {
    case Case::cloudFolder: return "cloudFolder(provider: " + cloudProviderName(provider) + ")";
    case Case::localFolder: return "localFolder";
    case Case::externalVolume: return "externalVolume";
    case Case::networkShare: return "networkShare";
    case Case::synthetic: return "synthetic";
    }
    return "localFolder";
}

}  // namespace wm

#pragma once
// What sort of place a destination is, and for cloud-synced folders, whose.
#include <string>

namespace wm {

enum class CloudProvider { systemCloudDrive, dropbox, googleDrive, oneDrive, box, other };

std::string cloudProviderName(CloudProvider provider);

struct DestinationKind {
    enum class Case { cloudFolder, localFolder, externalVolume, networkShare, synthetic };
    Case case_ = Case::localFolder;
    CloudProvider provider = CloudProvider::other;  // cloudFolder only

    static DestinationKind cloudFolder(CloudProvider p) { return {Case::cloudFolder, p}; }
    static DestinationKind localFolder() { return {Case::localFolder, CloudProvider::other}; }
    static DestinationKind externalVolume() { return {Case::externalVolume, CloudProvider::other}; }
    static DestinationKind networkShare() { return {Case::networkShare, CloudProvider::other}; }
    static DestinationKind synthetic() { return {Case::synthetic, CloudProvider::other}; }

    // "localFolder", "cloudFolder(provider: dropbox)", ...
    std::string description() const;

    friend bool operator==(const DestinationKind& a, const DestinationKind& b) {
        return a.case_ == b.case_ && (a.case_ != Case::cloudFolder || a.provider == b.provider);
    }
};

}  // namespace wm

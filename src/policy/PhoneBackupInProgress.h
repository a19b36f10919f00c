#pragma once
// Asked by a backup run's scan, entry by entry, whether the entry lies inside a phone
// backup that is being written right now; such a device backup is left out of the run
// as a whole. Each device backup's answer is worked out once per run and kept. One
// instance is shared by the run's scanning threads.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "policy/FileManager.h"

namespace wm {

class PhoneBackupInProgress {
public:
    explicit PhoneBackupInProgress(std::string_view home,
                                   const FileManager& fileManager = FileManager::defaultManager());

    // components: the entry's path relative to base, the folder being scanned.
    bool shouldSkip(const std::vector<std::string>& components, std::string_view base);

    const std::string root;  // the phone backups folder

private:
    std::optional<std::string> deviceFolder(const std::vector<std::string>& components, std::string_view base) const;

    const FileManager& fileManager_;
    std::mutex lock_;
    std::map<std::string, bool, std::less<>> held_;  // device folder -> skip; guarded by lock_
};

}  // namespace wm

#include "policy/PhoneBackupInProgress.h"

#include "policy/PhoneBackups.h"

namespace wm {

PhoneBackupInProgress::PhoneBackupInProgress(std::string_view home, const FileManager& fileManager)
    : root(PhoneBackups::folder(home)), fileManager_(fileManager) {}

std::optional<std::string> PhoneBackupInProgress::deviceFolder(const std::vector<std::string>& components,
                                                               std::string_view base) const {
    std::string path(base);
    if (path.ends_with('/')) path.pop_back();
    for (const std::string& component : components) path += "/" + component;
    if (path.size() <= root.size() || !path.starts_with(root) || path[root.size()] != '/') return std::nullopt;
    std::size_t start = root.size() + 1;
    while (start < path.size() && path[start] == '/') ++start;  // empty pieces are dropped
    if (start == path.size()) return std::nullopt;
    const std::size_t end = path.find('/', start);
    return root + "/" + path.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool PhoneBackupInProgress::shouldSkip(const std::vector<std::string>& components, std::string_view base) {
    const auto device = deviceFolder(components, base);
    if (!device) return false;
    {
        std::lock_guard guard(lock_);
        if (auto it = held_.find(*device); it != held_.end()) return it->second;
    }
    // Read outside the lock: two threads may both work this out, and both read the same file.
    const bool skip = !PhoneBackups::isFinished(*device, fileManager_);
    std::lock_guard guard(lock_);
    held_[*device] = skip;
    return skip;
}

}  // namespace wm

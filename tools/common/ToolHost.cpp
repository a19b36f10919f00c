#include "ToolHost.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "app/CommandLine.h"
#include "core/AppVersion.h"
#include "core/Hex.h"
#include "crypto/RecoveryKey.h"
#include "crypto/SecureRandom.h"
#include "format/RepositoryLayout.h"

namespace wm::tools {

DeviceID thisDevice() {
    std::ifstream in("/etc/machine-id");
    std::string text;
    if (in >> text) {
        if (auto bytes = Hex::decode(text)) {
            if (auto id = DeviceID::fromBytes(*bytes)) return *id;
        }
    }
    DeviceID id;
    SecureRandom::fill(id.bytes);
    return id;
}

std::string deviceName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this computer";
    return name;
}

HeldWritingLock::Holder thisMachine() { return {thisDevice(), deviceName()}; }

std::string readSecret(const std::string& path) {
    const auto contents = CommandLine::readSecretFile(path);
    if (contents.problem) throw ToolRefusal(*contents.problem);
    return contents.secret;
}

std::shared_ptr<LocalFolderDestination> localFolder(const std::string& path, const DestinationID& id, bool preparing) {
    try {
        return std::make_shared<LocalFolderDestination>(
            id, DestinationKind::localFolder(), path, std::nullopt,
            preparing ? LocalFolderDestination::Preparation::preparing(RepositoryLayout::requiredDirectories())
                      : LocalFolderDestination::Preparation::readingOnly());
    } catch (const DestinationError& e) {
        if (!e.path.string().empty() || e.underlying.empty()) throw;
        throw ToolRefusal("Wendle Marsh could not make or write the folder " + inQuotes(path) + " (" + e.underlying +
                          "). Check the location is connected, is not full, and is not read only.");
    }
}

void refuseLinkedFolders(const std::string& repository) {
    namespace fs = std::filesystem;
    std::vector<RepoPath> folders = RepositoryLayout::requiredDirectories();
    folders.push_back(RepositoryLayout::tmpDirectory());
    const fs::path root(repository);
    std::error_code ec;
    for (fs::directory_iterator it(root / RepositoryLayout::packsDirectory().string(), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (auto fanOut = RepositoryLayout::packsDirectory().appending(it->path().filename().string()))
            folders.push_back(*std::move(fanOut));
    }
    for (const RepoPath& folder : folders) {
        if (fs::is_symlink(fs::symlink_status(root / folder.string(), ec)))
            throw ToolRefusal("The backup's folder " + inQuotes(folder.string()) +
                              " is a link to another place, so nothing was changed: Wendle Marsh never writes or "
                              "deletes through a link. Put the folder itself back into the backup.");
    }
}

Repository::Unlocked unlock(const std::shared_ptr<Destination>& destination, const std::string& secret,
                            const DeviceID& device, Repository::Access access,
                            std::optional<std::uint64_t> rememberedCounter) {
    std::optional<RecoveryKey> recoveryKey;
    try {
        recoveryKey = RecoveryKey::parse(secret);
    } catch (const RecoveryKeyError&) {
        // Not a recovery key: a passphrase.
    }
    if (recoveryKey)
        return Repository::unlock(destination, *recoveryKey, device, std::string(appVersion), rememberedCounter,
                                  access);
    return Repository::unlock(destination, secret, device, std::string(appVersion), rememberedCounter, access);
}

}  // namespace wm::tools

#pragma once
// What the development tools share about the machine they run on, the folders and the
// secrets they are given.
#include <memory>
#include <optional>
#include <string>

#include "core/Identifiers.h"
#include "engine/HeldWritingLock.h"
#include "engine/Repository.h"
#include "storage/LocalFolderDestination.h"

namespace wm::tools {

// This machine's identity when it has one (/etc/machine-id), so that its runs name one
// device; a random one otherwise.
DeviceID thisDevice();
// The host name, or "this computer".
std::string deviceName();
// This machine as the holder of a writing lock, refreshed every
// RepositoryFormat::lockRefreshInterval and judged by the wall clock.
HeldWritingLock::Holder thisMachine();
// A secret file read as the headless restore reads it; a file that gives no secret throws
// ToolRefusal with the restore's sentence.
std::string readSecret(const std::string& path);
// A local folder as a destination, its repository folders made when `preparing`; a folder
// that cannot be made throws ToolRefusal naming it.
std::shared_ptr<LocalFolderDestination> localFolder(const std::string& path, const DestinationID& id, bool preparing);
// Refuses, with ToolRefusal naming it by its path in the repository, a folder of the
// repository (one of its own folders, "tmp", or a fan-out folder of "packs") that is a link,
// before any work: nothing is written or deleted through a link.
void refuseLinkedFolders(const std::string& repository);
// Unlocks with the secret as a recovery key when it reads as one, else as a passphrase.
Repository::Unlocked unlock(const std::shared_ptr<Destination>& destination, const std::string& secret,
                            const DeviceID& device, Repository::Access access,
                            std::optional<std::uint64_t> rememberedCounter = std::nullopt);

}  // namespace wm::tools

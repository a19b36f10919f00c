#include "restore/SpecialFileOutcome.h"

#include "core/Localization.h"
#include "format/TreeObject.h"
#include "restore/RestoreRoot.h"

namespace wm {

std::string SpecialFileOutcome::description() const {
    switch (kind) {
    case Kind::skippedFIFO:
        return WM_L(
            "\"%@\" was a named pipe (FIFO) in the backup. It was not recreated: Wendle Marsh does not "
            "recreate special file types on restore.",
            name);
    case Kind::skippedSocket:
        return WM_L(
            "\"%@\" was a Unix domain socket in the backup. It was not recreated: Wendle Marsh does not "
            "recreate special file types on restore.",
            name);
    case Kind::skippedCharacterDevice:
        return WM_L(
            "\"%@\" was a character device in the backup. It was not recreated: Wendle Marsh does not "
            "recreate special file types on restore.",
            name);
    case Kind::skippedBlockDevice:
        return WM_L(
            "\"%@\" was a block device in the backup. It was not recreated: Wendle Marsh does not "
            "recreate special file types on restore.",
            name);
    }
    return {};
}

std::string SpecialFileOutcome::reason() const {
    // The kind is a plain literal, the same in every language.
    const char* kindText = "";
    switch (kind) {
    case Kind::skippedFIFO: kindText = "named pipe"; break;
    case Kind::skippedSocket: kindText = "socket"; break;
    case Kind::skippedCharacterDevice: kindText = "character device"; break;
    case Kind::skippedBlockDevice: kindText = "block device"; break;
    }
    return WM_L("this was a %@ and was not recreated", kindText);
}

std::optional<SpecialFileOutcome> RestoreRoot::specialFileOutcome(TreeObject::EntryType type, const SafeName& name) {
    using T = TreeObject::EntryType;
    switch (type) {
    case T::file:
    case T::directory:
    case T::symlink: return std::nullopt;
    case T::fifo: return SpecialFileOutcome::skippedFIFO(name.description());
    case T::socket: return SpecialFileOutcome::skippedSocket(name.description());
    case T::characterDevice: return SpecialFileOutcome::skippedCharacterDevice(name.description());
    case T::blockDevice: return SpecialFileOutcome::skippedBlockDevice(name.description());
    }
    return std::nullopt;
}

}  // namespace wm

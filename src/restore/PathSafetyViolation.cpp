#include "restore/PathSafetyViolation.h"

#include "core/Localization.h"

namespace wm {

using K = PathSafetyViolation::Kind;

PathSafetyViolation PathSafetyViolation::reservedName(std::string name) {
    PathSafetyViolation v(
        K::reservedName,
        WM_L("An entry name in this backup is \"%@\", which is reserved and refused as a filename.", name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::symlinkComponent(std::string name, std::int64_t atDepth) {
    PathSafetyViolation v(K::symlinkComponent,
                          WM_L("The entry \"%@\" at depth %lld is a symlink. Restoring through a symlink is refused, "
                               "because a planted symlink could redirect the restore outside the folder you chose.",
                               name, atDepth));
    v.name = std::move(name);
    v.atDepth = atDepth;
    return v;
}

PathSafetyViolation PathSafetyViolation::existingSymlinkAtTarget(std::string name) {
    PathSafetyViolation v(K::existingSymlinkAtTarget,
                          WM_L("A file or folder named \"%@\" already exists at the restore target and is a symlink. "
                               "It will not be followed or replaced.",
                               name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::targetAlreadyExists(std::string name) {
    PathSafetyViolation v(K::targetAlreadyExists,
                          WM_L("A file or folder named \"%@\" already exists at the restore target.", name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::nameFoldsOnThisVolume(std::string wanted, std::string existing) {
    PathSafetyViolation v(K::nameFoldsOnThisVolume,
                          WM_L("This backup contains \"%@\", but the disk you are restoring to already has \"%@\" and "
                               "treats the two names as the same file. Restore to a case-sensitive disk to get both.",
                               wanted, existing));
    v.wanted = std::move(wanted);
    v.existing = std::move(existing);
    return v;
}

PathSafetyViolation PathSafetyViolation::unexpectedNonDirectory(std::string name) {
    PathSafetyViolation v(
        K::unexpectedNonDirectory,
        WM_L("The entry \"%@\" was expected to be a folder, but something else already exists there.", name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::tooManyComponents(std::int64_t limit) {
    PathSafetyViolation v(
        K::tooManyComponents,
        WM_L("This entry is nested deeper than %lld levels, which is refused as a safety limit.", limit));
    v.limit = limit;
    return v;
}

PathSafetyViolation PathSafetyViolation::pathTooLong(std::int64_t limit) {
    PathSafetyViolation v(
        K::pathTooLong,
        WM_L("This entry's path is longer than %lld bytes, which is refused as a safety limit.", limit));
    v.limit = limit;
    return v;
}

PathSafetyViolation PathSafetyViolation::restoreRootUnavailable(std::string underlying) {
    PathSafetyViolation v(K::restoreRootUnavailable,
                          WM_L("The chosen restore folder could not be opened: %@.", underlying));
    v.underlying = std::move(underlying);
    return v;
}

PathSafetyViolation PathSafetyViolation::ioFailure(std::string name, std::string call, std::string underlying) {
    PathSafetyViolation v(K::ioFailure, WM_L("Restoring \"%@\" failed during %@: %@.", name, call, underlying));
    v.name = std::move(name);
    v.call = std::move(call);
    v.underlying = std::move(underlying);
    return v;
}

PathSafetyViolation PathSafetyViolation::componentDoesNotExist(std::string name) {
    PathSafetyViolation v(
        K::componentDoesNotExist,
        WM_L("\"%@\" does not exist in the restore target yet, so nothing can be linked through it.", name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::nulByteInSymlinkTarget(std::string name) {
    PathSafetyViolation v(K::nulByteInSymlinkTarget,
                          WM_L("The symlink \"%@\" in this backup has a NUL byte in its target, which is not a valid "
                               "target on any real filesystem.",
                               name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::linkSourceDoesNotExist(std::string name) {
    PathSafetyViolation v(K::linkSourceDoesNotExist,
                          WM_L("\"%@\" was supposed to already be restored so a hard link could point at it, but it "
                               "is not there.",
                               name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::emptyName() {
    return PathSafetyViolation(K::emptyName,
                               WM_L("An entry name in this backup is empty, which is not a valid filename."));
}

PathSafetyViolation PathSafetyViolation::nulByteInName() {
    return PathSafetyViolation(
        K::nulByteInName, WM_L("An entry name in this backup contains a NUL byte, which is not a valid filename."));
}

PathSafetyViolation PathSafetyViolation::pathSeparatorInName() {
    return PathSafetyViolation(K::pathSeparatorInName,
                               WM_L("An entry name in this backup contains a path separator, so it cannot be a single "
                                    "path component."));
}

PathSafetyViolation PathSafetyViolation::absolutePath() {
    return PathSafetyViolation(K::absolutePath,
                               WM_L("An entry name in this backup begins with a path separator, which would make it "
                                    "an absolute path."));
}

PathSafetyViolation PathSafetyViolation::insideTheBackup(std::string name) {
    PathSafetyViolation v(K::insideTheBackup,
                          WM_L("\"%@\" is the backup being restored from, or lies inside it. Nothing is ever "
                               "written into the backup.",
                               name));
    v.name = std::move(name);
    return v;
}

PathSafetyViolation PathSafetyViolation::targetReplaced(std::string name) {
    PathSafetyViolation v(K::targetReplaced,
                          WM_L("\"%@\" was replaced by another folder or by a link while the restore was getting it "
                               "ready, so nothing was written into it. Check what is there now, then try again or "
                               "choose another folder.",
                               name));
    v.name = std::move(name);
    return v;
}

}  // namespace wm

#include "format/RepositoryPresentation.h"

#include "core/Localization.h"
#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "format/PackFile.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryErrors.h"
#include "format/RepositoryLayout.h"
#include "storage/DestinationError.h"

namespace wm::RepositoryPresentation {

namespace {

std::string noBackupHere() { return WM_L("There is no Wendle Marsh backup at that location."); }

std::optional<std::string> recoveryKeySentence(const RecoveryKeyError& e) {
    switch (e.kind) {
    case RecoveryKeyError::Kind::wrongLength:
        return WM_L(
            "That recovery key is not the right length. It should be %lld characters once hyphens and "
            "spaces are removed, and this one has %lld. Check whether a group was missed or repeated.",
            e.expected, e.got);
    case RecoveryKeyError::Kind::invalidCharacter:
        return WM_L(
            "That recovery key contains a character it should not: '%@', at position %lld. Recovery "
            "keys never contain the letters I, L, O or U, because they are too easily confused with 1 "
            "and 0.",
            e.character, static_cast<long long>(e.atIndex) + 1);
    case RecoveryKeyError::Kind::checksumMismatch:
        return WM_L(
            "That recovery key looks mistyped. It has the right shape, but the check characters at the "
            "end do not match the rest, which almost always means one character is wrong. It is worth "
            "reading it again carefully before assuming it is the wrong key.");
    }
    return std::nullopt;
}

std::optional<std::string> keyFileSentence(const KeyFile::Error& e) {
    switch (e.kind) {
    case KeyFile::Error::Kind::wouldRemoveLastPortableKey:
        return WM_L(
            "That is the last key that would still work if this Mac stopped working, so it cannot be "
            "removed.");
    case KeyFile::Error::Kind::wrongKey:
        return WM_L(
            "That does not open this backup. If you typed a passphrase, check it. If you typed a "
            "recovery key, it may belong to a different backup.");
    default: return std::nullopt;
    }
}

std::optional<std::string> repositorySentence(const RepositoryError& e) {
    switch (e.kind) {
    case RepositoryError::Kind::alreadyExists: return WM_L("There is already a Wendle Marsh backup at that location.");
    case RepositoryError::Kind::headMissing:
        return WM_L(
            "That backup is missing the file that lists its snapshots. The data may still be "
            "recoverable: run a verification to see what is intact.");
    case RepositoryError::Kind::headChanged:
        return WM_L(
            "Something else changed this backup while this run was writing to it, so nothing was added to "
            "its list of snapshots. What this run stored stays and is reused: run it again once the other "
            "work has finished.");
    case RepositoryError::Kind::noPassphraseSet: return WM_L(noPassphraseText);
    case RepositoryError::Kind::holdsOtherFiles:
        return WM_L("That location holds other files and no backup. A new backup goes into a new or empty folder.");
    default: return std::nullopt;
    }
}

std::string destinationSentence(const DestinationError& e) {
    const std::string path = e.path.string();
    switch (e.kind) {
    case DestinationError::Kind::notFound:
        return WM_L("Part of the backup is missing: %@. Run a verification to see what is intact.", path);
    case DestinationError::Kind::unavailable:
        return WM_L("That location is not reachable. If it is an external drive, connect it.");
    case DestinationError::Kind::permissionDenied:
        return WM_L("Wendle Marsh does not have permission to read that location.");
    case DestinationError::Kind::outOfSpace:
        // Decimal megabytes, truncated toward zero.
        return WM_L("That location is out of space. It needs about %lld MB more.", e.needed / 1000000);
    case DestinationError::Kind::shortRead:
        return WM_L(
            "Part of the backup is there but incomplete: %@. If this location is a cloud folder, it has "
            "probably not finished downloading. Wait for it to finish and try again. If it is a drive, "
            "run a verification to see what is intact.",
            path);
    case DestinationError::Kind::ioFailed:
        return WM_L(
            "The drive could not read %@. That points at the drive, the cable or the enclosure, and "
            "Wendle Marsh cannot tell which. Do not let this be your only copy.",
            path);
    case DestinationError::Kind::writeFailed:
        return WM_L(
            "Wendle Marsh could not write %@. Check the location is connected, is not full, and is not "
            "read only.",
            path);
    case DestinationError::Kind::renameFailed:
        return WM_L(
            "Wendle Marsh could not put %@ into place. Nothing was left half written. Some network "
            "shares refuse the rename that makes a write final; if this location is one, it is not a "
            "safe place for a backup.",
            path);
    case DestinationError::Kind::pathTooLong:
        return WM_L(
            "One name in the backup is longer than this location allows (%lld characters): %@. A "
            "different destination, or a shorter folder to write into, will take it.",
            e.limit, path);
    case DestinationError::Kind::interrupted:
        return WM_L("That was stopped before it finished. Nothing was left half written.");
    }
    return WM_L("Something went wrong: %@", std::string(e.what()));
}

}  // namespace

std::string sentence(const std::exception& error) {
    // 1. Recovery-key typing.
    if (const auto* e = dynamic_cast<const RecoveryKeyError*>(&error))
        if (auto s = recoveryKeySentence(*e)) return *s;
    // 2. Key files: the last portable key, then a wrong key.
    if (const auto* e = dynamic_cast<const KeyFile::Error*>(&error))
        if (auto s = keyFileSentence(*e)) return *s;
    const auto* config = dynamic_cast<const RepositoryConfig::Error*>(&error);
    const auto* destination = dynamic_cast<const DestinationError*>(&error);
    // 3, 4. Not a repository: a config that does not read, or no config file at all.
    if (config && config->kind == RepositoryConfig::Error::Kind::notARepository) return noBackupHere();
    if (destination && destination->kind == DestinationError::Kind::notFound &&
        destination->path == RepositoryLayout::configFile())
        return noBackupHere();
    // 5. A newer format.
    if (config && config->kind == RepositoryConfig::Error::Kind::unsupportedVersion)
        return WM_L(
            "That backup was made by a newer version of Wendle Marsh (format %lld, this version understands "
            "%lld to %lld). Update Wendle Marsh and try again.",
            config->found, config->supported.lowerBound, config->supported.upperBound);
    // 6. Copying into a location that holds another repository, or parts of one.
    if (const auto* e = dynamic_cast<const ReplicatorError*>(&error)) {
        if (e->kind == ReplicatorError::Kind::configMissing)
            return WM_L(
                "That location holds parts of a Wendle Marsh backup without its configuration file, so nothing "
                "was written. Choose an empty folder.");
        return WM_L(
            "That location already holds a DIFFERENT Wendle Marsh backup. Copying into it would mix two "
            "backups together, so nothing was written. Choose an empty folder, or a location that already "
            "holds this same backup.");
    }
    // 7. The repository's own conditions.
    if (const auto* e = dynamic_cast<const RepositoryError*>(&error))
        if (auto s = repositorySentence(*e)) return *s;
    // 8. Storage.
    if (destination) return destinationSentence(*destination);
    // 9. Pack damage.
    if (dynamic_cast<const PackFile::Error*>(&error))
        return WM_L("Part of the backup is damaged and could not be read. Details: %@", std::string(error.what()));
    // 10. Everything else.
    return WM_L("Something went wrong: %@", std::string(error.what()));
}

std::string sentence(const std::exception_ptr& error) {
    if (!error) return WM_L("Something went wrong: %@", std::string("no error"));
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return sentence(e);
    } catch (...) {
        return WM_L("Something went wrong: %@", std::string("an unknown error"));
    }
}

}  // namespace wm::RepositoryPresentation

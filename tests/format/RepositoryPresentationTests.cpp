#include <gtest/gtest.h>

#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "format/PackFile.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryErrors.h"
#include "format/RepositoryLayout.h"
#include "format/RepositoryPresentation.h"
#include "format/TreeObject.h"
#include "storage/DestinationError.h"
#include "storage/ReadOnlyDestination.h"

namespace wm {
namespace {

using RepositoryPresentation::sentence;

RepoPath path(std::string_view text) { return *RepoPath::parse(text); }

TEST(RepositoryPresentation, EverySentence) {
    RepositoryID one, two;
    one.bytes.fill(1);
    two.bytes.fill(2);
    BlobID blob;
    blob.bytes.fill(0xAB);
    const RepoPath packPath = path("packs/ab/abcd.pack");
    struct Row {
        std::exception_ptr error;
        std::string text;
    };
    const auto e = [](auto error) { return std::make_exception_ptr(error); };
    const std::vector<Row> rows = {
        {e(RecoveryKeyError::wrongLength(45, 44)),
         "That recovery key is not the right length. It should be 45 characters once hyphens and spaces are removed, "
         "and this one has 44. Check whether a group was missed or repeated."},
        {e(RecoveryKeyError::invalidCharacter("U", 0)),
         "That recovery key contains a character it should not: 'U', at position 1. Recovery keys never contain the "
         "letters I, L, O or U, because they are too easily confused with 1 and 0."},
        {e(RecoveryKeyError::checksumMismatch()),
         "That recovery key looks mistyped. It has the right shape, but the check characters at the end do not match "
         "the rest, which almost always means one character is wrong. It is worth reading it again carefully before "
         "assuming it is the wrong key."},
        {e(KeyFile::Error::wouldRemoveLastPortableKey()),
         "That is the last key that would still work if this Mac stopped working, so it cannot be removed."},
        {e(KeyFile::Error::wrongKey()),
         "That does not open this backup. If you typed a passphrase, check it. If you typed a recovery key, it may "
         "belong to a different backup."},
        {e(RepositoryConfig::Error::notARepository()), "There is no Wendle Marsh backup at that location."},
        {e(DestinationError::notFound(RepositoryLayout::configFile())), "There is no Wendle Marsh backup at that location."},
        {e(RepositoryConfig::Error::unsupportedVersion(3, RepositoryFormat::supportedVersions)),
         "That backup was made by a newer version of Wendle Marsh (format 3, this version understands 1 to 2). Update "
         "Wendle Marsh and try again."},
        {e(ReplicatorError::foreignRepository(one, two)),
         "That location already holds a DIFFERENT Wendle Marsh backup. Copying into it would mix two backups "
         "together, so nothing was written. Choose an empty folder, or a location that already holds this same "
         "backup."},
        {e(RepositoryError::alreadyExists()), "There is already a Wendle Marsh backup at that location."},
        {e(RepositoryError::headMissing()),
         "That backup is missing the file that lists its snapshots. The data may still be recoverable: run a "
         "verification to see what is intact."},
        {e(RepositoryError::noPassphraseSet()),
         "No passphrase was set on this backup, so there is nothing to type. Use the recovery key that was written "
         "down when it was created."},
        {e(DestinationError::notFound(RepositoryLayout::head())),
         "Part of the backup is missing: refs/head. Run a verification to see what is intact."},
        {e(DestinationError::unavailable(DestinationID::random(), Availability::permissionRequired())),
         "That location is not reachable. If it is an external drive, connect it."},
        {e(DestinationError::permissionDenied(packPath)),
         "Wendle Marsh does not have permission to read that location."},
        {e(DestinationError::outOfSpace(2500000, std::nullopt)),
         "That location is out of space. It needs about 2 MB more."},
        {e(DestinationError::outOfSpace(999999, 5)), "That location is out of space. It needs about 0 MB more."},
        {e(DestinationError::shortRead(packPath, 100, 10)),
         "Part of the backup is there but incomplete: packs/ab/abcd.pack. If this location is a cloud folder, it has "
         "probably not finished downloading. Wait for it to finish and try again. If it is a drive, run a "
         "verification to see what is intact."},
        {e(DestinationError::ioFailed(packPath, "EIO")),
         "The drive could not read packs/ab/abcd.pack. That points at the drive, the cable or the enclosure, and "
         "Wendle Marsh cannot tell which. Do not let this be your only copy."},
        {e(DestinationError::writeFailed(packPath, "EIO")),
         "Wendle Marsh could not write packs/ab/abcd.pack. Check the location is connected, is not full, and is not "
         "read only."},
        {e(DestinationError::renameFailed(packPath, "EXDEV")),
         "Wendle Marsh could not put packs/ab/abcd.pack into place. Nothing was left half written. Some network "
         "shares refuse the rename that makes a write final; if this location is one, it is not a safe place for a "
         "backup."},
        {e(DestinationError::pathTooLong(packPath, 255)),
         "One name in the backup is longer than this location allows (255 characters): packs/ab/abcd.pack. A "
         "different destination, or a shorter folder to write into, will take it."},
        {e(DestinationError::interrupted()), "That was stopped before it finished. Nothing was left half written."},
        {e(PackFile::Error::directoryCorrupted()),
         "Part of the backup is damaged and could not be read. Details: PackFile.Error.directoryCorrupted"},
        {e(KeyFile::Error::malformed()), std::string("Something went wrong: ") + KeyFile::Error::malformed().what()},
        {e(RepositoryError::blobNotFound(blob)),
         "Something went wrong: Repository.Error.blobNotFound(" + blob.hex() + ")"},
        {e(RepositoryConfig::Error::malformed("repositoryID is not 32 bytes")),
         "Something went wrong: RepositoryConfig.Error.malformed(\"repositoryID is not 32 bytes\")"},
        {e(TreeObject::Error::truncated()), "Something went wrong: TreeObject.Error.truncated"},
        {e(ReadOnlyDestination::Error::writeRefused(packPath)),
         std::string("Something went wrong: ") + ReadOnlyDestination::Error::writeRefused(packPath).what()},
    };
    for (const auto& r : rows) EXPECT_EQ(sentence(r.error), r.text);

    const std::runtime_error plain("plain failure");
    EXPECT_EQ(sentence(plain), "Something went wrong: plain failure");
    EXPECT_FALSE(sentence(std::exception_ptr{}).empty());
    EXPECT_FALSE(sentence(std::make_exception_ptr(42)).empty());
}

}  // namespace
}  // namespace wm

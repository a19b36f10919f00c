#include <gtest/gtest.h>

#include <map>

#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "format/Fixtures.h"
#include "format/PackFile.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryErrors.h"
#include "format/RepositoryLayout.h"
#include "format/RepositoryPresentation.h"
#include "format/TreeObject.h"
#include "storage/DestinationError.h"
#include "support/DataTable.h"

namespace wm {
namespace {

using RepositoryPresentation::sentence;

TEST(RepositoryPresentation, EverySentence) {
    const RepoPath packPath = *RepoPath::parse("packs/ab/abcd.pack");
    const auto e = [](auto error) -> std::optional<std::string> { return sentence(std::make_exception_ptr(error)); };
    const std::map<std::string, std::optional<std::string>> sentences = {
        {"wrongLength", e(RecoveryKeyError::wrongLength(45, 44))},
        {"invalidCharacter", e(RecoveryKeyError::invalidCharacter("U", 0))},
        {"checksumMismatch", e(RecoveryKeyError::checksumMismatch())},
        {"lastPortableKey", e(KeyFile::Error::wouldRemoveLastPortableKey())},
        {"wrongKey", e(KeyFile::Error::wrongKey())},
        {"notARepository", e(RepositoryConfig::Error::notARepository())},
        {"configNotFound", e(DestinationError::notFound(RepositoryLayout::configFile()))},
        {"unsupportedVersion", e(RepositoryConfig::Error::unsupportedVersion(3, RepositoryFormat::supportedVersions))},
        {"foreignRepository",
         e(ReplicatorError::foreignRepository(test::blobFilled<RepositoryID>(1), test::blobFilled<RepositoryID>(2)))},
        {"configMissing", e(ReplicatorError::configMissing(test::blobFilled<RepositoryID>(1)))},
        {"alreadyExists", e(RepositoryError::alreadyExists())},
        {"holdsOtherFiles", e(RepositoryError::holdsOtherFiles())},
        {"headMissing", e(RepositoryError::headMissing())},
        {"headChanged", e(RepositoryError::headChanged(4, 5))},
        {"noPassphraseSet", e(RepositoryError::noPassphraseSet())},
        {"headNotFound", e(DestinationError::notFound(RepositoryLayout::head()))},
        {"unavailable", e(DestinationError::unavailable(DestinationID::random(), Availability::permissionRequired()))},
        {"permissionDenied", e(DestinationError::permissionDenied(packPath))},
        {"outOfSpace", e(DestinationError::outOfSpace(2500000, std::nullopt))},
        {"outOfSpaceRounded", e(DestinationError::outOfSpace(999999, 5))},
        {"shortRead", e(DestinationError::shortRead(packPath, 100, 10))},
        {"ioFailed", e(DestinationError::ioFailed(packPath, "EIO"))},
        {"writeFailed", e(DestinationError::writeFailed(packPath, "EIO"))},
        {"renameFailed", e(DestinationError::renameFailed(packPath, "EXDEV"))},
        {"pathTooLong", e(DestinationError::pathTooLong(packPath, 255))},
        {"interrupted", e(DestinationError::interrupted())},
        {"directoryCorrupted", e(PackFile::Error::directoryCorrupted())},
        {"treeTruncated", e(TreeObject::Error::truncated())},
    };
    test::expectTexts("format/sentences.tsv", sentences);
    EXPECT_EQ(sentence(std::runtime_error("plain failure")), "Something went wrong: plain failure");
    EXPECT_FALSE(sentence(std::exception_ptr{}).empty());
    EXPECT_FALSE(sentence(std::make_exception_ptr(42)).empty());
}

}  // namespace
}  // namespace wm

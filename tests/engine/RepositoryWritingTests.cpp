// The drive files kept beside a repository.
#include <gtest/gtest.h>

#include "format/DriveReadMe.h"
#include "format/RepositoryLayout.h"
#include "storage/ReadOnlyDestination.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

// The read-me is written every time; the format document only when no file of its size is
// there. Either is written only where nothing is or the file there is the system's own (empty,
// or opening with its first line): a person's own file of that name stays, whatever its size.
// A destination that refuses writes is left as it was.
TEST(RepositoryWriting, TheDriveFilesAreWrittenWhereMissingOrOfAnotherSizeAndOnlyOverTheirOwn) {
    const std::optional<Bytes> document = DriveReadMe::formatDocument();
    ASSERT_TRUE(document);
    auto memory = std::make_shared<InMemoryDestination>();
    auto file = [&](const RepoPath& path) { return stringOf(memory->files().at(path.string())); };
    const RepoPath readMe = RepositoryLayout::readMe(), formatDoc = RepositoryLayout::formatDoc();

    ReadOnlyDestination readOnly(memory);
    EXPECT_NO_THROW(Repository::writeReadMe(readOnly, "1.0.0"));
    EXPECT_TRUE(memory->files().empty());

    Repository::writeReadMe(*memory, "1.0.1");
    EXPECT_TRUE(file(readMe).starts_with("WENDLE MARSH BACKUP\n")) << file(readMe);
    EXPECT_NE(file(readMe).find("\nWritten by Wendle Marsh 1.0.1 on "), std::string::npos);
    EXPECT_EQ(file(formatDoc), stringOf(*document));

    const std::string sameSize = "# Wendle Marsh repository format\n" + std::string(document->size() - 33, 'x');
    memory->put(formatDoc, sameSize);
    Repository::writeReadMe(*memory, "1.0.2");
    EXPECT_NE(file(readMe).find("\nWritten by Wendle Marsh 1.0.2 on "), std::string::npos);
    EXPECT_EQ(file(formatDoc), sameSize);

    memory->put(formatDoc, sameSize + "x");
    Repository::writeReadMe(*memory, "1.0.3");
    EXPECT_EQ(file(formatDoc), stringOf(*document));
    EXPECT_EQ(memory->files().size(), 2u);

    const std::string mine = "My own read-me\nWENDLE MARSH BACKUP\n", myFormat = std::string(document->size() + 1, 'x');
    memory->put(readMe, mine);
    memory->put(formatDoc, myFormat);
    Repository::writeReadMe(*memory, "1.0.4");
    EXPECT_EQ(file(readMe), mine);
    EXPECT_EQ(file(formatDoc), myFormat);
}

}  // namespace
}  // namespace wm::test

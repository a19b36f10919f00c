// The drive files kept beside a repository.
#include <gtest/gtest.h>

#include "format/DriveReadMe.h"
#include "format/RepositoryLayout.h"
#include "storage/ReadOnlyDestination.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

// The read-me is written every time; the format document only when no file of its size is
// there, whatever that file holds. A destination that refuses writes is left as it was.
TEST(RepositoryWriting, TheDriveFilesAreWrittenWhereMissingOrOfAnotherSize) {
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

    const std::string sameSize(document->size(), 'x');
    memory->put(formatDoc, sameSize);
    Repository::writeReadMe(*memory, "1.0.2");
    EXPECT_NE(file(readMe).find("\nWritten by Wendle Marsh 1.0.2 on "), std::string::npos);
    EXPECT_EQ(file(formatDoc), sameSize);

    memory->put(formatDoc, sameSize + "x");
    Repository::writeReadMe(*memory, "1.0.3");
    EXPECT_EQ(file(formatDoc), stringOf(*document));
    EXPECT_EQ(memory->files().size(), 2u);
}

}  // namespace
}  // namespace wm::test

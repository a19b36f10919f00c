#include "storage/ReadOnlyDestination.h"

#include <gtest/gtest.h>

#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"

namespace wm {
namespace {

using Op = test::FaultyDestination::Operation;

TEST(ReadOnlyDestination, RefusesChangesBeforeTheWrappedDestinationSeesThem) {
    auto memory = std::make_shared<test::InMemoryDestination>();
    memory->put(RepoPath() / "refs" / "head", "head");
    memory->setFreeSpace(1234);
    auto log = std::make_shared<test::FaultyDestination>(memory);
    ReadOnlyDestination readOnly(log);
    const auto before = memory->files();

    try {
        readOnly.openWrite(RepoPath() / "refs" / "head");
        FAIL();
    } catch (const ReadOnlyDestination::Error& e) {
        EXPECT_EQ(e.kind, ReadOnlyDestination::Error::Kind::writeRefused);
        EXPECT_EQ(e.path, RepoPath() / "refs" / "head");
        EXPECT_STREQ(e.what(), "ReadOnlyDestination.Error.writeRefused(refs/head)");
    }
    try {
        readOnly.remove(RepoPath() / "refs" / "head");
        FAIL();
    } catch (const ReadOnlyDestination::Error& e) {
        EXPECT_EQ(e.kind, ReadOnlyDestination::Error::Kind::removeRefused);
        EXPECT_STREQ(e.what(), "ReadOnlyDestination.Error.removeRefused(refs/head)");
    }
    EXPECT_EQ(memory->files(), before);
    EXPECT_TRUE(log->calls().empty());
    EXPECT_EQ(memory->durableWrites().size(), 0u);
}

TEST(ReadOnlyDestination, PassesReadsThroughUnchanged) {
    auto memory = std::make_shared<test::InMemoryDestination>();
    memory->put(RepoPath() / "packs" / "ab" / "1.pack", "0123456789");
    memory->setFreeSpace(99);
    memory->setCapabilities({true});
    ReadOnlyDestination readOnly(memory);
    EXPECT_EQ(readOnly.id(), memory->id());
    EXPECT_EQ(readOnly.kind(), memory->kind());
    EXPECT_TRUE(readOnly.capabilities().remoteVerification);
    EXPECT_TRUE(readOnly.availability().isAvailable());
    EXPECT_TRUE(readOnly.exists(RepoPath() / "packs"));
    EXPECT_EQ(readOnly.size(RepoPath() / "packs" / "ab" / "1.pack"), 10);
    EXPECT_EQ(stringOf(readOnly.read(RepoPath() / "packs" / "ab" / "1.pack", ByteRange{2, 5})), "234");
    std::uint8_t two[2];
    readOnly.readInto(RepoPath() / "packs" / "ab" / "1.pack", 8, two);
    EXPECT_EQ(two[0], '8');
    EXPECT_EQ(readOnly.list(RepoPath() / "packs"), std::vector<RepoPath>{RepoPath() / "packs" / "ab"});
    EXPECT_EQ(readOnly.freeSpace(), 99);
    // Errors pass through as they are.
    try {
        readOnly.read(RepoPath() / "missing");
        FAIL();
    } catch (const DestinationError& e) {
        EXPECT_EQ(e.kind, DestinationError::Kind::notFound);
    }
}

}  // namespace
}  // namespace wm

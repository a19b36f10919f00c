#include "storage/ReadOnlyDestination.h"

#include <gtest/gtest.h>

#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"

namespace wm {
namespace {

TEST(ReadOnlyDestination, RefusesChangesBeforeTheWrappedDestinationSeesThemAndPassesReads) {
    auto memory = std::make_shared<test::InMemoryDestination>();
    const RepoPath head = RepoPath() / "refs" / "head";
    memory->put(head, "0123456789");
    auto log = std::make_shared<test::FaultyDestination>(memory);
    ReadOnlyDestination readOnly(log);
    using Kind = ReadOnlyDestination::Error::Kind;
    const std::pair<std::function<void()>, Kind> refusals[] = {
        {[&] { readOnly.openWrite(head); }, Kind::writeRefused}, {[&] { readOnly.remove(head); }, Kind::removeRefused}};
    for (const auto& [call, kind] : refusals) {
        try {
            call();
            ADD_FAILURE();
        } catch (const ReadOnlyDestination::Error& e) {
            EXPECT_EQ(e.kind, kind);
            EXPECT_EQ(e.path, head);
        }
    }
    EXPECT_TRUE(log->calls().empty());
    EXPECT_EQ(stringOf(readOnly.read(head, ByteRange{2, 5})), "234");
    EXPECT_THROW(readOnly.read(RepoPath() / "missing"), DestinationError);
    EXPECT_EQ(stringOf(memory->read(head)), "0123456789");
}

}  // namespace
}  // namespace wm

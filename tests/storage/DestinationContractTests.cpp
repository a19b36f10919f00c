// Behaviour every destination shares, run against the local folder and the in-memory model;
// the read-only view; the errors a volume reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <memory>
#include <thread>

#include "storage/LocalFolderDestination.h"
#include "storage/ReadOnlyDestination.h"
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"
#include "support/SimulatedCrash.h"
#include "support/TempFolder.h"
#include "support/Thrown.h"

namespace wm {
namespace {

using Kind = DestinationError::Kind;

// The local folder (true) or the in-memory model (false).
class DestinationContract : public ::testing::TestWithParam<bool> {
protected:
    void put(const RepoPath& path, std::string_view text) {
        auto w = d->openWrite(path);
        w->write(viewOf(text));
        w->commit();
    }
    DestinationError readError(Destination& from, const RepoPath& path, ByteRange range) {
        return test::thrown<DestinationError>([&] { from.read(path, range); });
    }
    std::size_t debris() { return d->list(RepoPath() / "tmp").size(); }
    test::TempFolder folder{"wm-dest"};
    std::shared_ptr<Destination> d =
        GetParam() ? std::shared_ptr<Destination>(std::make_shared<LocalFolderDestination>(
                         DestinationID::random(), DestinationKind::localFolder(), folder.path() / "repo", std::nullopt,
                         LocalFolderDestination::Preparation::preparing()))
                   : std::make_shared<test::InMemoryDestination>();
};

const RepoPath kPack = RepoPath() / "packs" / "ab" / "ab01.pack";
const RepoPath kFile = RepoPath() / "f";

TEST_P(DestinationContract, OnlyACommitMakesTheObjectAndCancelledOrDroppedWritersLeaveTheOldOne) {
    put(kPack, "first version, longer");
    auto w = d->openWrite(kPack);
    w->write(viewOf("hello "));
    w->write(viewOf("world"));
    EXPECT_EQ(stringOf(d->read(kPack)), "first version, longer");
    w->commit();
    EXPECT_EQ(stringOf(d->read(kPack)), "hello world");
    EXPECT_EQ(debris(), 0u);
    EXPECT_THROW(w->write(viewOf("y")), DestinationError);  // a committed writer is finished
    EXPECT_THROW(w->commit(), DestinationError);
    w->cancel();
    auto cancelled = d->openWrite(kPack);
    cancelled->write(viewOf("dropped"));
    cancelled->cancel();
    EXPECT_EQ(debris(), 0u);
    d->openWrite(RepoPath() / "new")->write(viewOf("pending"));  // dropped uncommitted
    EXPECT_EQ(stringOf(d->read(kPack)), "hello world");
    EXPECT_FALSE(d->exists(RepoPath() / "new"));
    EXPECT_EQ(debris(), 1u);  // left until a holder of the writing lock discards it
}

TEST_P(DestinationContract, RangedReadsAtTheEdgesAndMissingObjects) {
    put(kFile, "0123456789");
    const std::vector<std::pair<ByteRange, const char*>> good = {
        {{0, 10}, "0123456789"}, {{0, 1}, "0"}, {{9, 10}, "9"}, {{3, 7}, "3456"}, {{10, 10}, ""}};
    for (const auto& [range, expected] : good) {
        EXPECT_EQ(stringOf(d->read(kFile, range)), expected);
        std::string buffer(static_cast<std::size_t>(range.count()), '?');
        d->readInto(kFile, range.lower, {reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size()});
        EXPECT_EQ(buffer, expected);
    }
    const std::vector<std::pair<ByteRange, Kind>> bad = {
        {{9, 11}, Kind::shortRead}, {{20, 30}, Kind::shortRead}, {{-1, 3}, Kind::ioFailed}, {{5, 4}, Kind::ioFailed}};
    for (const auto& [range, kind] : bad) {
        const auto e = readError(*d, kFile, range);
        EXPECT_EQ(e.kind, kind) << range.lower;
        if (kind == Kind::shortRead) {
            EXPECT_EQ(e.got, std::max<std::int64_t>(0, 10 - range.lower));
        }
    }
    const RepoPath missing = RepoPath() / "snapshots" / "nothing.snap";
    EXPECT_FALSE(d->exists(missing));
    EXPECT_EQ(d->size(missing), std::nullopt);
    EXPECT_EQ(readError(*d, missing, {0, 4}).kind, Kind::notFound);
}

// Offsets come from index entries read from disk: one near the largest value must be a read
// past the end, never a wrapped sum that passes the bounds check.
TEST_P(DestinationContract, OffsetsNearTheLargestValueAreReadsPastTheEnd) {
    put(kFile, "0123456789");
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::shared_ptr<Destination>> views = {d, std::make_shared<test::FaultyDestination>(d),
                                                             std::make_shared<ReadOnlyDestination>(d)};
    for (std::size_t v = 0; v < views.size(); ++v) {
        for (std::int64_t offset : {kMax, kMax - 1, kMax - 3, kMax / 2}) {
            std::array<std::uint8_t, 4> buffer{};
            const auto e = test::thrown<DestinationError>([&] { views[v]->readInto(kFile, offset, buffer); });
            EXPECT_EQ(std::pair(e.kind, e.got), std::pair(Kind::shortRead, std::int64_t{0})) << v << " " << offset;
            EXPECT_EQ(readError(*views[v], kFile, {offset, kMax}).kind, Kind::shortRead) << v << " " << offset;
        }
    }
}

TEST_P(DestinationContract, ListingAndRemoving) {
    put(RepoPath() / "packs" / "ab" / "1.pack", "a");
    put(RepoPath() / "packs" / "cd" / "2.pack", "b");
    put(RepoPath() / "packs" / "loose", "c");
    std::vector<RepoPath> listed = d->list(RepoPath() / "packs");
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<RepoPath>{RepoPath() / "packs" / "ab", RepoPath() / "packs" / "cd",
                                             RepoPath() / "packs" / "loose"}));
    // A missing folder is empty; a file is not a folder, nor a folder a file.
    EXPECT_TRUE(d->list(RepoPath() / "index" / "deeper").empty());
    EXPECT_THROW(d->list(RepoPath() / "packs" / "loose"), DestinationError);

    const RepoPath file = RepoPath() / "packs" / "ab" / "1.pack";
    EXPECT_THROW(d->remove(RepoPath() / "packs" / "ab"), DestinationError);  // not empty
    d->remove(file);
    d->remove(file);  // already gone: no error
    d->remove(RepoPath() / "packs" / "ab");

    // An opening tells nothing, a folder, or a file's size with its first bytes only.
    using Opening = ObjectOpening::Kind;
    EXPECT_EQ(d->opening(RepoPath() / "packs" / "gone", 4).kind, Opening::nothing);
    EXPECT_EQ(d->opening(RepoPath() / "packs" / "cd", 4).kind, Opening::other);
    put(RepoPath() / "read-me", "a person's own words");
    const ObjectOpening opened = d->opening(RepoPath() / "read-me", 8);
    EXPECT_EQ(std::tuple(opened.kind, opened.size, stringOf(opened.bytes)), std::tuple(Opening::file, 20, "a person"));
    EXPECT_EQ(stringOf(d->opening(RepoPath() / "read-me", 100).bytes), "a person's own words");
}

// Discarding pending writes takes the files that writes dropped uncommitted left in "tmp", and
// nothing else there: no other name, no folder named as they are, empty or not. A removal that
// fails is passed over; a crash while it removes is no ordinary failure and goes through.
TEST_P(DestinationContract, DiscardingPendingWritesTakesOnlyTheirFiles) {
    const RepoPath tmp = RepoPath() / "tmp";
    const std::string folderNamedSo = UUID::random().compactHex(), emptyNamedSo = UUID::random().compactHex();
    put(tmp / "notes.txt", "a user's");
    put(tmp / "0123456789ABCDEF0123456789ABCDEF", "upper case is not a writer's");
    put(tmp / folderNamedSo / "inside", "kept");
    put(tmp / emptyNamedSo / "gone", "leaves an empty folder");
    d->remove(tmp / emptyNamedSo / "gone");
    const auto dropUncommitted = [&] { d->openWrite(RepoPath() / "new")->write(viewOf("pending")); };
    dropUncommitted();
    ASSERT_EQ(debris(), 5u);
    test::FaultyDestination faulty(d);
    faulty.failMutation(1, DestinationError::writeFailed(tmp, "EIO"));
    EXPECT_NO_THROW(faulty.discardPendingWrites());
    EXPECT_EQ(debris(), 5u);
    // The lock is confirmed between the listing and the first removal, and only when there is
    // something to remove: a confirmation that fails goes through, and nothing is removed.
    EXPECT_THROW(d->discardPendingWrites([] { throw std::runtime_error("lock lost"); }), std::runtime_error);
    EXPECT_EQ(debris(), 5u);
    d->discardPendingWrites();
    EXPECT_NO_THROW(d->discardPendingWrites([] { throw std::runtime_error("nothing to confirm"); }));
    std::vector<RepoPath> left = d->list(tmp);
    std::sort(left.begin(), left.end());
    std::vector<RepoPath> kept = {tmp / "0123456789ABCDEF0123456789ABCDEF", tmp / "notes.txt", tmp / folderNamedSo,
                                  tmp / emptyNamedSo};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(left, kept);
    dropUncommitted();
    test::FaultyDestination crashing(d);
    crashing.crashAtMutation(1);
    EXPECT_THROW(crashing.discardPendingWrites(), test::SimulatedCrash);
}

// Every thread also writes the shared object: the last commit wins whole.
TEST_P(DestinationContract, SeveralThreadsReadAndWriteAtOnce) {
    std::atomic<int> failures{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                const std::string text(static_cast<std::size_t>(50 + i), static_cast<char>('a' + t));
                put(RepoPath() / ("t" + std::to_string(t)) / ("f" + std::to_string(i)), text);
                put(RepoPath() / "shared", text);
                const auto shared = stringOf(d->read(RepoPath() / "shared"));
                if (shared.size() < 50 || shared.find_first_not_of(shared[0]) != std::string::npos) ++failures;
            }
        });
    threads.clear();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(debris(), 0u);
}

TEST(ReadOnlyDestination, RefusesChangesBeforeTheWrappedDestinationSeesThemAndPassesReads) {
    auto memory = std::make_shared<test::InMemoryDestination>();
    const RepoPath head = RepoPath() / "refs" / "head";
    memory->put(head, "0123456789");
    auto log = std::make_shared<test::FaultyDestination>(memory);
    ReadOnlyDestination readOnly(log);
    using Error = ReadOnlyDestination::Error;
    EXPECT_EQ(test::thrown<Error>([&] { readOnly.openWrite(head); }).kind, Error::Kind::writeRefused);
    EXPECT_EQ(test::thrown<Error>([&] { readOnly.remove(head); }).kind, Error::Kind::removeRefused);
    EXPECT_TRUE(log->calls().empty());
    EXPECT_EQ(stringOf(readOnly.read(head, ByteRange{2, 5})), "234");
    EXPECT_EQ(stringOf(memory->read(head)), "0123456789");
}

TEST(DestinationError, ErrnoMapsToCases) {
    using Op = DestinationError::Operation;
    const std::vector<std::tuple<int, Op, Kind>> rows = {
        {ENOENT, Op::read, Kind::notFound},         {EACCES, Op::read, Kind::permissionDenied},
        {EROFS, Op::write, Kind::permissionDenied}, {ENOSPC, Op::write, Kind::outOfSpace},
        {EDQUOT, Op::write, Kind::outOfSpace},      {ENAMETOOLONG, Op::write, Kind::pathTooLong},
        {EINTR, Op::read, Kind::interrupted},       {EIO, Op::read, Kind::ioFailed},
        {EIO, Op::write, Kind::writeFailed},        {EXDEV, Op::rename, Kind::renameFailed},
    };
    for (const auto& [err, op, kind] : rows)
        EXPECT_EQ(DestinationError::fromErrno(err, RepoPath() / "a", op).kind, kind) << "errno " << err;
    const auto full = DestinationError::fromErrno(ENOSPC, RepoPath() / "a", Op::write, 10, 5);
    EXPECT_EQ(full.needed, 10);
    EXPECT_EQ(full.available, 5);
    // A long name hits the component limit, a long path the path limit.
    EXPECT_EQ(DestinationError::fromErrno(ENAMETOOLONG, RepoPath() / std::string(300, 'a'), Op::write).limit, 255);
    EXPECT_EQ(DestinationError::fromErrno(ENAMETOOLONG, RepoPath() / "a" / "b", Op::write).limit, 4096);
}

INSTANTIATE_TEST_SUITE_P(Destinations, DestinationContract, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "LocalFolder" : "InMemory"; });

}  // namespace
}  // namespace wm

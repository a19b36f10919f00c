// Reading snapshots and blobs.
#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "format/RepositoryLayout.h"
#include "storage/DestinationError.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

using RepositoryReading = FaultyRepositoryTest;

TEST_F(RepositoryReading, MissingBlobsAndSnapshotsGiveTheirErrors) {
    const auto stored = repository->store(bytesOf("hello"), BlobType::data);  // held, not yet in a written pack
    EXPECT_EQ(thrown<Repository::Error>([&] { repository->blob(stored.id); }),
              Repository::Error::blobNotFound(stored.id));

    const auto a = commitFile(*repository, {randomBytes(100, 1)}, "a");
    const auto b = commitFile(*repository, {randomBytes(100, 2)}, "b");
    // A valid record copied over another's path opens and verifies, but is not the one asked for.
    memory->put(RepositoryLayout::snapshot(b), memory->files().at(RepositoryLayout::snapshot(a).string()));
    EXPECT_EQ(repository->snapshot(a).id, a.value);
    EXPECT_EQ(thrown<Repository::Error>([&] { repository->snapshot(b); }), Repository::Error::snapshotNotFound(b));
    memory->remove(RepositoryLayout::snapshot(b));
    EXPECT_EQ(thrown<DestinationError>([&] { repository->snapshot(b); }).kind, DestinationError::Kind::notFound);
}

// A blob read reads only its range. Through a buffer kept by the caller: blobs of any size in
// any order and a failed read in between.
TEST_F(RepositoryReading, BlobThroughACallersBufferReadsLikeAFreshOne) {
    const std::vector<Bytes> contents = {randomBytes(70000, 1), randomBytes(10, 2), bytesOf(std::string(90000, 'z')),
                                         randomBytes(300000, 3), randomBytes(1, 4)};
    commitFile(*repository, contents);
    auto opened = openRepository(faulty, keys, Repository::Access::readOnly);
    const Repository& reader = *opened.repository;
    faulty->clearLog();
    EXPECT_EQ(reader.blob(reader.cipher().identity(contents[0])), contents[0]);
    EXPECT_LT(faulty->calls().back().range.value().count(), 70000 + 100);
    Bytes buffer;
    for (const Bytes& content : contents) EXPECT_EQ(reader.blob(reader.cipher().identity(content), buffer), content);
    const BlobID small = reader.cipher().identity(contents[1]);
    faulty->failCalls("packs/*", DestinationError::ioFailed(RepoPath(), "device error"), {}, 1);
    EXPECT_THROW(reader.blob(small, buffer), DestinationError);
    EXPECT_EQ(reader.blob(small, buffer), contents[1]);
    // An entry reaching past its pack's end is refused before a buffer is grown for it, with the
    // error the ranged read itself gives, whichever buffer it goes through.
    for (const auto& [path, bytes] : memory->files())
        if (path.starts_with("packs/")) memory->put(*RepoPath::parse(path), ByteView(bytes).first(bytes.size() / 2));
    const BlobID cut = reader.cipher().identity(contents[3]);
    const auto location = reader.withIndex([&](const CompactIndex& index) { return *index.location(cut); });
    const auto packPath = RepositoryLayout::pack(location.pack);
    const auto offset = static_cast<std::int64_t>(location.entry.offset);
    const std::string ranged = thrown<DestinationError>([&] {
                                   memory->read(packPath, ByteRange{offset, offset + location.entry.length});
                               }).what();
    Bytes fresh;
    for (Bytes* through : {&fresh, &buffer}) {
        const auto error = thrown<DestinationError>([&] { reader.blob(cut, *through); });
        EXPECT_EQ(std::pair(error.kind, std::string(error.what())),
                  std::pair(DestinationError::Kind::shortRead, ranged));
    }
    EXPECT_TRUE(fresh.empty());
}

TEST_F(RepositoryReading, ReadersRunAlongsideAWriter) {
    std::vector<Bytes> contents;
    for (std::uint64_t i = 0; i < 8; ++i) contents.push_back(randomBytes(20000 + i, i));
    const auto first = commitFile(*repository, contents, "first");
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            for (; !done.load(); reads.fetch_add(1)) EXPECT_EQ(readWhole(*repository, first), 8 * 20000u + 28);
        });
    // The writer starts once a reader is under way, however the threads are scheduled.
    while (reads.load() == 0) std::this_thread::yield();
    for (std::uint64_t round = 0; round < 10; ++round)
        commitFile(*repository, {randomBytes(30000, 100 + round)}, "more");
    done = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(repository->counter(), 11u);
}

}  // namespace
}  // namespace wm::test

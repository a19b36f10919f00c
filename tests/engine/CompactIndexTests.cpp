#include "engine/CompactIndex.h"

#include <random>

#include <gtest/gtest.h>

namespace wm {
namespace {

BlobID blobNumber(std::uint64_t n) {
    BlobID id;
    std::mt19937_64 g(n);
    for (auto& b : id.bytes) b = static_cast<std::uint8_t>(g());
    return id;
}

PackID packNumber(std::uint64_t n) {
    PackID id;
    id.bytes.fill(0);
    for (int i = 0; i < 8; ++i) id.bytes[i] = static_cast<std::uint8_t>(n >> (8 * i));
    return id;
}

PackFile::Entry entry(std::uint64_t blob, std::uint64_t offset, std::uint32_t length = 100,
                      BlobType type = BlobType::data) {
    return PackFile::Entry{blobNumber(blob), type, offset, length};
}

TEST(CompactIndex, FirstMergedLocationStaysWhicheverOrder) {
    const IndexFile::Section a{packNumber(1), {entry(7, 8), entry(8, 108)}};
    const IndexFile::Section b{packNumber(2), {entry(7, 500), entry(9, 8)}};

    CompactIndex ab;
    ab.merge(std::vector{a, b});
    CompactIndex ba;
    ba.merge(std::vector{b, a});

    EXPECT_EQ(ab.location(blobNumber(7))->pack, packNumber(1));
    EXPECT_EQ(ab.location(blobNumber(7))->entry.offset, 8u);
    EXPECT_EQ(ba.location(blobNumber(7))->pack, packNumber(2));
    EXPECT_EQ(ba.location(blobNumber(7))->entry.offset, 500u);
    EXPECT_EQ(ab.blobCount(), 3u);
    EXPECT_EQ(ba.blobCount(), 3u);
}

TEST(CompactIndex, KeepsEveryFieldOfTheEntry) {
    CompactIndex index;
    index.merge(IndexFile::Section{packNumber(5), {entry(1, 123456789012ULL, 4194341, BlobType::tree)}});
    const auto location = index.location(blobNumber(1));
    ASSERT_TRUE(location);
    EXPECT_EQ(location->pack, packNumber(5));
    EXPECT_EQ(location->entry, entry(1, 123456789012ULL, 4194341, BlobType::tree));
    EXPECT_FALSE(index.location(blobNumber(2)));
}

TEST(CompactIndex, OffsetThatCannotBeAPositionReadsAsUnreadable) {
    CompactIndex index;
    index.merge(IndexFile::Section{packNumber(1), {entry(1, UINT64_MAX - 3), entry(2, CompactIndex::offsetLimit)}});
    EXPECT_EQ(index.location(blobNumber(1))->entry.offset, UINT64_MAX);
    EXPECT_EQ(index.location(blobNumber(2))->entry.offset, UINT64_MAX);
    EXPECT_TRUE(index.contains(blobNumber(1)));
}

TEST(CompactIndex, MissingKeepsOrderAndDuplicates) {
    CompactIndex index;
    index.merge(IndexFile::Section{packNumber(1), {entry(2, 8)}});
    const auto missing = index.missing({blobNumber(1), blobNumber(2), blobNumber(1)});
    EXPECT_EQ(missing, (std::vector{blobNumber(1), blobNumber(1)}));
}

TEST(CompactIndex, PacksNamesOnlyPacksThatKeepALocation) {
    CompactIndex index;
    EXPECT_TRUE(index.packs().empty());
    index.merge(IndexFile::Section{packNumber(1), {entry(1, 8)}});
    index.merge(IndexFile::Section{packNumber(2), {entry(1, 8)}});  // every blob already held
    index.merge(IndexFile::Section{packNumber(3), {entry(3, 8)}});
    EXPECT_EQ(index.packs(), (std::unordered_set{packNumber(1), packNumber(3)}));
}

// The compact index must answer exactly as the format's hash map does, for bulk loading
// and for incremental merging alike, including duplicates within and across sections.
TEST(CompactIndex, AgreesWithTheFormatIndexOnRandomSections) {
    std::mt19937_64 g(42);
    std::vector<IndexFile::Section> sections;
    for (int s = 0; s < 300; ++s) {
        IndexFile::Section section{packNumber(g() % 120), {}};
        const int n = static_cast<int>(g() % 200);
        for (int i = 0; i < n; ++i) section.entries.push_back(entry(g() % 20000, g() % 100000, static_cast<std::uint32_t>(g())));
        sections.push_back(section);
    }

    RepositoryIndex reference(sections);
    CompactIndex merged;
    merged.merge(sections);
    CompactIndex bulk;
    for (const auto& section : sections) bulk.appendUnchecked(section);
    bulk.finishAppending();

    for (const CompactIndex* index : {&merged, &bulk}) {
        ASSERT_EQ(index->blobCount(), reference.blobCount());
        for (const auto& [id, location] : reference.locations()) {
            const auto found = index->location(id);
            ASSERT_TRUE(found);
            EXPECT_EQ(*found, location);
        }
        EXPECT_EQ(index->packs(), reference.packs());
    }
    EXPECT_EQ(merged, bulk);
}

TEST(CompactIndex, BulkAppendAfterMergesKeepsEarlierLocations) {
    CompactIndex index;
    index.merge(IndexFile::Section{packNumber(1), {entry(1, 8), entry(2, 108)}});
    index.appendUnchecked(IndexFile::Section{packNumber(2), {entry(2, 8), entry(3, 8), entry(3, 200)}});
    index.finishAppending();
    EXPECT_EQ(index.blobCount(), 3u);
    EXPECT_EQ(index.location(blobNumber(2))->pack, packNumber(1));
    EXPECT_EQ(index.location(blobNumber(3))->entry.offset, 8u);
}

TEST(CompactIndex, ManyIncrementalMergesFoldIntoOneSortedArray) {
    CompactIndex index;
    RepositoryIndex reference;
    for (std::uint64_t pack = 0; pack < 40; ++pack) {
        IndexFile::Section section{packNumber(pack), {}};
        for (std::uint64_t i = 0; i < 1000; ++i) section.entries.push_back(entry(pack * 1000 + i, 8 + i * 100));
        index.merge(section);
        reference.merge(section);
    }
    EXPECT_EQ(index.blobCount(), 40000u);
    for (const auto& [id, location] : reference.locations()) ASSERT_EQ(*index.location(id), location);
    EXPECT_EQ(index.toRepositoryIndex().locations(), reference.locations());
}

TEST(CompactIndex, RecordsStayUnderFiftyBytesPerBlob) {
    CompactIndex index;
    const std::size_t blobs = 100000;
    index.reserveCapacity(blobs);
    for (std::uint64_t pack = 0; pack < 20; ++pack) {
        IndexFile::Section section{packNumber(pack), {}};
        for (std::uint64_t i = 0; i < blobs / 20; ++i) section.entries.push_back(entry(pack * 100000 + i, 8));
        index.appendUnchecked(section);
    }
    index.finishAppending();
    EXPECT_EQ(index.blobCount(), blobs);
    EXPECT_LE(index.memoryBytes() / blobs, 50u);
}

}  // namespace
}  // namespace wm

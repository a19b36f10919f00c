#include "format/CompactIndex.h"
#include "format/Fixtures.h"

#include <map>
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

PackFile::Entry entry(std::uint64_t blob, std::uint64_t offset, std::uint32_t length = 100,
                      BlobType type = BlobType::data) {
    return PackFile::Entry{blobNumber(blob), type, offset, length};
}

TEST(CompactIndex, OffsetThatCannotBeAPositionIsUnreadableAndMissingKeepsOrder) {
    CompactIndex index;
    index.merge(IndexFile::Section{test::blobFilled<PackID>(1),
                                   {entry(1, UINT64_MAX - 3), entry(2, CompactIndex::offsetLimit)}});
    EXPECT_EQ(index.location(blobNumber(1))->entry.offset, UINT64_MAX);
    EXPECT_EQ(index.location(blobNumber(2))->entry.offset, UINT64_MAX);
    EXPECT_TRUE(index.contains(blobNumber(1)));
    EXPECT_EQ(index.missing({blobNumber(3), blobNumber(2), blobNumber(3)}),
              (std::vector{blobNumber(3), blobNumber(3)}));
}

// The compact index answers as a plain map where the first location stays, whether loaded in bulk, merged in
// one go or one section at a time, duplicates within and across sections included.
TEST(CompactIndex, AgreesWithAPlainMapOnRandomSections) {
    std::mt19937_64 g(42);
    std::vector<IndexFile::Section> sections;
    for (int s = 0; s < 300; ++s) {
        IndexFile::Section section{test::blobFilled<PackID>(static_cast<std::uint8_t>(g() % 120)), {}};
        const int n = static_cast<int>(g() % 200);
        for (int i = 0; i < n; ++i) {
            const auto type = g() % 2 ? BlobType::data : BlobType::tree;
            section.entries.push_back(entry(g() % 20000, g() % (1ULL << 40), static_cast<std::uint32_t>(g()), type));
        }
        sections.push_back(section);
    }

    std::map<BlobID, CompactIndex::Location> reference;
    std::unordered_set<PackID> referencePacks;
    for (const auto& section : sections) {
        for (const auto& e : section.entries) {
            if (reference.try_emplace(e.id, CompactIndex::Location{section.pack, e}).second)
                referencePacks.insert(section.pack);
        }
    }
    CompactIndex merged;
    merged.merge(sections);
    CompactIndex bulk;
    CompactIndex incremental;
    for (const auto& section : sections) {
        bulk.appendUnchecked(section);
        incremental.merge(section);
    }
    bulk.finishAppending();

    for (const CompactIndex* index : {&merged, &bulk, &incremental}) {
        ASSERT_EQ(index->blobCount(), reference.size());
        for (const auto& [id, location] : reference) {
            const auto found = index->location(id);
            ASSERT_TRUE(found);
            EXPECT_EQ(*found, location);
        }
        EXPECT_EQ(index->packs(), referencePacks);
    }
    EXPECT_EQ(merged, bulk);
    EXPECT_EQ(merged, incremental);
    EXPECT_FALSE(merged.location(blobNumber(20000)));
}

}  // namespace
}  // namespace wm

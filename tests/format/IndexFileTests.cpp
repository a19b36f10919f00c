#include <gtest/gtest.h>

#include "format/Fixtures.h"
#include "format/IndexFile.h"

namespace wm {
namespace {

using test::blobFilled;

PackFile::Entry entry(std::uint8_t fill, std::uint64_t offset = 8) {
    return PackFile::Entry{blobFilled(fill), BlobType::data, offset, 100};
}

TEST(IndexFile, EncodingAndDecoding) {
    EXPECT_EQ(IndexFile::encode({}), (Bytes{0, 0, 0, 0}));
    EXPECT_TRUE(IndexFile::decode(Bytes{0, 0, 0, 0}).empty());

    const IndexFile::Section empty{blobFilled<PackID>(1), {}};
    const Bytes one = IndexFile::encode({empty});
    EXPECT_EQ(one.size(), 4u + 36u);
    EXPECT_EQ(IndexFile::decode(one), std::vector<IndexFile::Section>{empty});

    const std::vector<IndexFile::Section> sections{
        {blobFilled<PackID>(1), {entry(1), {blobFilled(2), BlobType::tree, UINT64_MAX, UINT32_MAX}}},
        {blobFilled<PackID>(2), {{blobFilled(3), BlobType::meta, 8, 0}}},
    };
    const Bytes body = IndexFile::encode(sections);
    EXPECT_EQ(body.size(), 4u + 2 * 36u + 3 * 45u);
    EXPECT_EQ(IndexFile::decode(body), sections);

    Bytes longer = body;
    longer.push_back(0);
    const auto e = test::thrown<IndexFile::Error>([&] { IndexFile::decode(longer); });
    EXPECT_EQ(e.kind, IndexFile::Error::Kind::unexpectedTrailingBytes);
    EXPECT_EQ(e.count, 1);
}

TEST(IndexFile, HostileBodiesAreCorrupted) {
    const std::vector<IndexFile::Section> sections{{blobFilled<PackID>(1), {entry(1)}}};
    const Bytes good = IndexFile::encode(sections);
    Bytes typeZero = good, typeFour = good, moreSections = good, moreEntries = good;
    typeZero[4 + 36 + 32] = 0;
    typeFour[4 + 36 + 32] = 4;
    moreSections[0] = 2;
    moreEntries[4 + 32] = 2;
    const std::pair<const char*, Bytes> rows[] = {
        {"empty", {}},
        {"count cut short", {1, 0}},
        {"type 0", typeZero},
        {"type 4", typeFour},
        {"more sections than 36-byte units", moreSections},
        {"more entries than 45-byte units", moreEntries},
        {"huge section count", {0xFF, 0xFF, 0xFF, 0xFF}},
        {"truncated record", Bytes(good.begin(), good.end() - 1)},
    };
    for (const auto& [what, body] : rows)
        EXPECT_EQ(test::thrown<IndexFile::Error>([&] { IndexFile::decode(body); }).kind,
                  IndexFile::Error::Kind::corrupted)
            << what;
}

}  // namespace
}  // namespace wm

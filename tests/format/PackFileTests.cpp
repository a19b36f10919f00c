#include <gtest/gtest.h>

#include "core/Hex.h"
#include "crypto/PackHashing.h"
#include "format/ByteWriter.h"
#include "format/Fixtures.h"
#include "format/PackReader.h"
#include "format/PackWriter.h"
#include "format/RepositoryFormat.h"
#include "support/DataTable.h"

namespace wm {
namespace {

using Kind = PackFile::Error::Kind;
using test::blobFilled;

// A pack assembled by hand around a given directory body, so that directories the writer
// would never produce can be tested.
Bytes packAround(const test::Repo& repo, const Bytes& blobs, const Bytes& directoryBody) {
    Bytes pack{'W', 'M', 'P', 'K', 1, 0, 0, 0};
    pack.insert(pack.end(), blobs.begin(), blobs.end());
    const Bytes sealed = repo.cipher.sealMetadata(directoryBody);
    pack.insert(pack.end(), sealed.begin(), sealed.end());
    ByteWriter w(pack);
    w.uint32(static_cast<std::uint32_t>(sealed.size()));
    w.bytes(RepositoryFormat::PackFile::endMagic);
    w.uint8(0);
    return pack;
}

template <class F>
PackFile::Error packError(F&& f) {
    return test::thrown<PackFile::Error>(f);
}

PackFile::Error readError(const test::Repo& repo, const Bytes& bytes) {
    return packError([&] { PackReader(bytes, hashPackID(bytes), repo.cipher); });
}

TEST(PackWriter, EmptyPackIs52Bytes) {
    test::Repo repo;
    PackWriter w(repo.cipher);
    EXPECT_EQ(w.byteCount(), 8u);
    // Reserved once: the 64 MiB target, one 4 MiB chunk and its 37 bytes of sealing.
    EXPECT_EQ(w.capacity(), 71303205u);
    const auto done = w.finish();
    ASSERT_EQ(done.bytes.size(), 52u);
    EXPECT_EQ(Bytes(done.bytes.begin(), done.bytes.begin() + 8), (Bytes{'W', 'M', 'P', 'K', 1, 0, 0, 0}));
    EXPECT_EQ(Bytes(done.bytes.end() - 12, done.bytes.end()),
              (Bytes{32, 0, 0, 0, 'W', 'M', 'P', 'K', 'E', 'N', 'D', 0}));
    EXPECT_EQ(done.id, hashPackID(done.bytes));
    const PackReader reader(done.bytes, done.id, repo.cipher);
    EXPECT_TRUE(reader.entries().empty());
}

TEST(PackWriter, BlobsRoundTripAndDuplicatesAreSkipped) {
    test::Repo repo;
    PackWriter w(repo.cipher);
    const Bytes a = bytesOf("first blob"), b = bytesOf("second blob, a tree"), c(5000, 'c');
    EXPECT_TRUE(w.add(a, BlobType::data));
    EXPECT_TRUE(w.add(b, BlobType::tree));
    const std::size_t before = w.byteCount();
    EXPECT_FALSE(w.add(a, BlobType::data));
    const BlobID idC = repo.cipher.identity(c);
    const Bytes sealedC = repo.cipher.seal(c, idC, BlobType::meta);
    EXPECT_TRUE(w.addSealed(idC, BlobType::meta, sealedC));
    EXPECT_FALSE(w.addSealed(idC, BlobType::meta, sealedC));
    EXPECT_EQ(w.byteCount(), before + sealedC.size());
    EXPECT_EQ(w.blobCount(), 3u);
    EXPECT_TRUE(w.contains(repo.cipher.identity(b)));

    const auto done = w.finish();
    ASSERT_EQ(done.entries.size(), 3u);
    EXPECT_EQ(done.entries[0].offset, 8u);
    EXPECT_EQ(done.entries[1].offset, 8u + done.entries[0].length);
    EXPECT_EQ(done.entries[1].type, BlobType::tree);
    const PackReader reader(done.bytes, done.id, repo.cipher);
    EXPECT_EQ(reader.entries(), done.entries);
    EXPECT_EQ(reader.blob(repo.cipher.identity(a)), a);
    EXPECT_EQ(reader.blob(repo.cipher.identity(b)), b);
    EXPECT_EQ(reader.blob(idC), c);
    EXPECT_FALSE(reader.contains(blobFilled(9)));
    EXPECT_EQ(packError([&] { reader.blob(blobFilled(9)); }).kind, Kind::blobNotPresent);
}

TEST(PackWriter, FullAtTheTargetSizeOrBlobCount) {
    test::Repo repo;
    PackWriter w(repo.cipher);
    const Bytes big(67108863 - 8, 0xAB);
    w.addSealed(blobFilled(1), BlobType::data, big);
    EXPECT_EQ(w.byteCount(), 67108863u);
    EXPECT_FALSE(w.isFull());
    w.addSealed(blobFilled(2), BlobType::data, Bytes(1, 0));
    EXPECT_TRUE(w.isFull());

    PackWriter many(repo.cipher);
    BlobID id;
    for (std::uint32_t i = 0; i < 50000; ++i) {
        std::memcpy(id.bytes.data(), &i, sizeof i);
        EXPECT_FALSE(many.isFull());
        many.addSealed(id, BlobType::data, Bytes(1, 0));
    }
    EXPECT_TRUE(many.isFull());
}

// The size rule callers follow: a blob refused by a non-empty pack but small enough for an
// empty one goes into the next pack; nothing fails for ever.
TEST(PackWriter, MaximumSizeAndTheRetryRule) {
    test::Repo repo;
    PackWriter w(repo.cipher);
    const std::size_t max = RepositoryFormat::packMaximumBytes;
    const Bytes sealed(max / 2, 0x11);
    ASSERT_TRUE(w.addSealed(blobFilled(1), BlobType::data, sealed));
    // Exactly the maximum is allowed.
    const ByteView rest = ByteView(sealed).first(max - 8 - max / 2);
    ASSERT_TRUE(w.addSealed(blobFilled(2), BlobType::data, rest));
    EXPECT_EQ(w.byteCount(), max);

    const Bytes small(100, 0x22);
    EXPECT_FALSE(w.canTake(small.size()));
    const auto e = packError([&] { w.addSealed(blobFilled(3), BlobType::data, small); });
    EXPECT_EQ(e.kind, Kind::tooLarge);
    EXPECT_EQ(e.bytes, static_cast<std::int64_t>(max + small.size()));
    EXPECT_EQ(w.blobCount(), 2u);  // unchanged

    // The caller seals the full pack and tries once more in a new one.
    ASSERT_TRUE(PackWriter::fitsEmptyPack(small.size()));
    EXPECT_EQ(w.finish().entries.size(), 2u);
    PackWriter next(repo.cipher);
    EXPECT_TRUE(next.addSealed(blobFilled(3), BlobType::data, small));

    // A blob that cannot fit even an empty pack is refused for good.
    EXPECT_TRUE(PackWriter::fitsEmptyPack(max - 8));
    EXPECT_FALSE(PackWriter::fitsEmptyPack(max - 7));
    PackWriter empty(repo.cipher);
    EXPECT_FALSE(empty.canTake(max - 7));
}

TEST(PackReader, CorruptionMatrix) {
    test::Repo repo;
    PackWriter w(repo.cipher);
    w.add(bytesOf("hello"), BlobType::data);
    w.add(bytesOf("world"), BlobType::tree);
    const auto good = w.finish();

    // Too small, and the hash is checked before anything else.
    EXPECT_EQ(packError([&] { PackReader(Bytes(19, 0), hashPackID(Bytes(19, 0)), repo.cipher); }).bytes, 19);
    const auto mismatch = packError([&] { PackReader(Bytes(20, 0), good.id, repo.cipher); });
    EXPECT_EQ(mismatch.kind, Kind::hashMismatch);
    EXPECT_EQ(mismatch.expected, good.id);
    EXPECT_EQ(mismatch.actual, hashPackID(Bytes(20, 0)));

    Bytes b = good.bytes;
    b[0] = 'X';
    EXPECT_EQ(readError(repo, b).kind, Kind::badHeader);
    b = good.bytes;
    b[b.size() - 3] = 'X';
    EXPECT_EQ(readError(repo, b).kind, Kind::badTrailer);
    // Neither the final byte nor the version is examined.
    b = good.bytes;
    b.back() = 7;
    b[4] = 9;
    EXPECT_EQ(PackReader(b, hashPackID(b), repo.cipher).entries(), good.entries);

    // A directory length that reaches into the header.
    b = good.bytes;
    const auto lengthAt = b.size() - 12;
    const std::uint32_t tooLong = static_cast<std::uint32_t>(b.size() - 12 - 7);
    std::memcpy(b.data() + lengthAt, &tooLong, 4);
    auto e = readError(repo, b);
    EXPECT_EQ(e.kind, Kind::directoryLengthOutOfRange);
    EXPECT_EQ(e.directoryLength, tooLong);
    EXPECT_EQ(e.fileSize, static_cast<std::int64_t>(b.size()));
    const std::uint32_t huge = 0xFFFFFFFF;
    std::memcpy(b.data() + lengthAt, &huge, 4);
    EXPECT_EQ(readError(repo, b).kind, Kind::directoryLengthOutOfRange);

    // A directory that does not open passes the cipher's error through.
    b = good.bytes;
    const std::uint32_t shorter = 20;
    std::memcpy(b.data() + lengthAt, &shorter, 4);
    EXPECT_THROW(PackReader(b, hashPackID(b), repo.cipher), BlobCipherError);
    test::Repo other;
    EXPECT_THROW(PackReader(good.bytes, good.id, other.cipher), BlobCipherError);
}

// The directories of tests/data/format, sealed around 100 blob bytes: each record must lie in that region
// and name a type; an id listed twice keeps its first record.
TEST(PackReader, DirectoryRecordsAreChecked) {
    test::Repo repo;
    for (const auto& row : test::dataTable("format/pack-directories.tsv", 3)) {
        std::string hex = row[1];
        std::erase(hex, ' ');
        const Bytes pack = packAround(repo, Bytes(100, 0x5A), *Hex::decode(hex));
        if (row[2] == "corrupted") {
            EXPECT_EQ(readError(repo, pack).kind, Kind::directoryCorrupted) << row[0];
            continue;
        }
        const PackReader reader(pack, hashPackID(pack), repo.cipher);
        EXPECT_EQ(reader.entries().size(), std::stoul(row[2])) << row[0];
        EXPECT_TRUE(reader.contains(blobFilled(1)));
        // The first record points at bytes that are not a sealed blob: the cipher refuses.
        EXPECT_THROW(reader.blob(blobFilled(1)), BlobCipherError);
    }
}

}  // namespace
}  // namespace wm

#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "format/Fixtures.h"
#include "format/HeadRecord.h"
#include "format/SignedFile.h"
#include "format/SnapshotRecord.h"

namespace wm {
namespace {

using SFKind = SignedFile::Error::Kind;

HeadRecord sampleHead() {
    return HeadRecord(7, {*UUID::parse("01234567-89AB-CDEF-0123-456789ABCDEF"), UUID::random()},
                      Date::fromMicroseconds(1700000000123000), Bytes(16, 0xD1));
}

SnapshotRecord sampleSnapshot() {
    SnapshotRecord r;
    r.id = UUID::random();
    r.counter = 3;
    r.deviceID = Bytes(16, 4);
    r.deviceName = "Kitchen iMac";
    r.createdAt = Date::fromMicroseconds(1700000000456000);
    r.hostPlatform = "6.1.0";
    r.appVersion = "0.1.3";
    r.sources = {{Bytes{'/', 'h', 0xFF, 0xFE}, "folder"}, {bytesOf("/Users"), "wholeMac"}};
    r.rootTree = Bytes(32, 0xEE);
    r.stats = {10, 2, 1 << 20, 1000, 5, 1, 0, 12.5};
    r.flags = {"partial"};
    return r;
}

template <class R>
SignedFile::Error::Kind openFailure(const Bytes& file, const test::Repo& repo) {
    return test::thrown<SignedFile::Error>([&] { SignedFile::open<R>(file, repo.keys, repo.cipher); }).kind;
}

TEST(SignedFile, SealAndOpen) {
    test::Repo repo;
    const HeadRecord head = sampleHead();
    const Bytes a = SignedFile::seal(head, repo.keys, repo.cipher);
    EXPECT_EQ(a.size(), RepositoryJSON::encodeBytes(head.toJSON(), false).size() + 92);
    EXPECT_NE(a, SignedFile::seal(head, repo.keys, repo.cipher));  // fresh nonce

    // A slice of a larger buffer opens the same.
    Bytes larger(5, 0);
    larger.insert(larger.end(), a.begin(), a.end());
    EXPECT_EQ(SignedFile::open<HeadRecord>(ByteView(larger).subspan(5), repo.keys, repo.cipher), head);
}

TEST(SignedFile, SizeSignatureAndPayloadChecks) {
    test::Repo repo;
    for (std::size_t size : {0u, 1u, 64u})
        EXPECT_EQ(openFailure<HeadRecord>(Bytes(size, 0), repo), SFKind::tooSmall) << size;
    EXPECT_EQ(openFailure<HeadRecord>(Bytes(65, 0), repo), SFKind::signatureInvalid);

    // A valid signature over a sealed part too short to open: the cipher's error.
    Bytes tiny{0x42};
    const Bytes sig = repo.keys.sign(tiny);
    tiny.insert(tiny.end(), sig.begin(), sig.end());
    EXPECT_EQ(test::thrown<BlobCipherError>([&] { SignedFile::open<HeadRecord>(tiny, repo.keys, repo.cipher); }).kind,
              BlobCipherError::Kind::metadataTruncated);

    // A flipped bit in the sealed part or in the signature breaks the signature (the fuzz corpus tries the rest).
    const Bytes file = SignedFile::seal(sampleHead(), repo.keys, repo.cipher);
    for (std::size_t i : {std::size_t{0}, file.size() - 1}) {
        Bytes damaged = file;
        damaged[i] ^= 4;
        EXPECT_EQ(openFailure<HeadRecord>(damaged, repo), SFKind::signatureInvalid) << i;
    }
    // Cut short or extended.
    EXPECT_EQ(openFailure<HeadRecord>(Bytes(file.begin(), file.end() - 1), repo), SFKind::signatureInvalid);
    Bytes extended = file;
    extended.push_back(0);
    EXPECT_EQ(openFailure<HeadRecord>(extended, repo), SFKind::signatureInvalid);

    // Another repository's keys.
    test::Repo other;
    EXPECT_EQ(openFailure<HeadRecord>(file, other), SFKind::signatureInvalid);

    // A head is not a snapshot record.
    EXPECT_EQ(openFailure<SnapshotRecord>(file, repo), SFKind::payloadUnreadable);
    // Signed and sealed bytes that are not JSON at all.
    EXPECT_EQ(openFailure<HeadRecord>(SignedFile::sealPayload(bytesOf("not json"), repo.keys, repo.cipher), repo),
              SFKind::payloadUnreadable);
    // A record whose date does not parse.
    JSON j = sampleHead().toJSON();
    j["updatedAt"] = "yesterday";
    EXPECT_EQ(openFailure<HeadRecord>(
                  SignedFile::sealPayload(RepositoryJSON::encodeBytes(j, false), repo.keys, repo.cipher), repo),
              SFKind::payloadUnreadable);
}

TEST(HeadRecord, Verdicts) {
    auto head = [](std::uint64_t c) { return HeadRecord(c, {}, Date{}, Bytes(16, 0)); };
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    struct Row {
        std::uint64_t found;
        std::optional<std::uint64_t> remembered;
        HeadVerdict verdict;
    };
    const Row rows[] = {
        {0, std::nullopt, HeadVerdict::advanced(0, 0)},
        {7, 5, HeadVerdict::advanced(5, 7)},
        {7, 7, HeadVerdict::unchanged(7)},
        {7, 8, HeadVerdict::rollbackSuspected(7, 8)},
        {0, max, HeadVerdict::rollbackSuspected(0, max)},
    };
    for (const auto& r : rows) {
        const HeadVerdict v = head(r.found).compare(r.remembered);
        EXPECT_EQ(v, r.verdict) << v.description();
        EXPECT_EQ(v.isSuspicious(), r.verdict.kind == HeadVerdict::Kind::rollbackSuspected);
    }
}

TEST(HeadRecord, JSONFormAndEquality) {
    const HeadRecord h = sampleHead();
    const std::string text = RepositoryJSON::encode(h.toJSON(), false);
    EXPECT_EQ(text.find("{\"counter\":7,\"snapshots\":[\"01234567-89AB-CDEF-0123-456789ABCDEF\","), 0u);
    EXPECT_NE(text.find("\"updatedAt\":\"2023-11-14T22:13:20.123Z\",\"v\":2,\"writerDeviceID\":\""), std::string::npos);
    EXPECT_EQ(HeadRecord::fromJSON(h.toJSON()), h);
}

TEST(HeadRecord, CounterNeverWraps) {
    const HeadRecord h = sampleHead();
    const HeadRecord next = h.successor({UUID::random()}, Date{}, Bytes(16, 1));
    EXPECT_EQ(next.counter, 8u);
    EXPECT_EQ(next.v, 2);
    HeadRecord last = h;
    last.counter = std::numeric_limits<std::uint64_t>::max();
    EXPECT_THROW(last.successor({}, Date{}, Bytes(16, 1)), HeadRecord::Error);
}

TEST(SnapshotRecord, OptionalFieldsAndRoundTrip) {
    test::Repo repo;
    const SnapshotRecord bare = sampleSnapshot();
    const std::string text = RepositoryJSON::encode(bare.toJSON(), false);
    for (const char* key : {"\"parent\"", "\"excludeRules\"", "\"anomalyDetectedAt\""})
        EXPECT_EQ(text.find(key), std::string::npos) << key;
    const Bytes file = SignedFile::seal(bare, repo.keys, repo.cipher);
    EXPECT_EQ(SignedFile::open<SnapshotRecord>(file, repo.keys, repo.cipher), bare);

    SnapshotRecord full = bare;
    full.parent = UUID::random();
    full.excludeRules = std::vector<std::string>{};
    full.flags = {"anomalyDetected", "partial", "somethingNew"};
    full.anomalyDetectedAt = full.createdAt;
    full.sources.push_back({Bytes{}, "aKindNotKnownYet"});
    EXPECT_EQ(SignedFile::open<SnapshotRecord>(SignedFile::seal(full, repo.keys, repo.cipher), repo.keys, repo.cipher),
              full);
}

TEST(SnapshotRecord, MissingOrMistypedKeysAreUnreadable) {
    test::Repo repo;
    const JSON good = sampleSnapshot().toJSON();
    std::vector<JSON> bad;
    for (const char* key : {"v", "id", "counter", "deviceID", "deviceName", "createdAt", "hostPlatform", "appVersion",
                            "sources", "rootTree", "stats", "flags"}) {
        bad.push_back(good);
        bad.back().erase(key);
    }
    const std::function<void(JSON&)> damage[] = {
        [](JSON& j) { j["stats"].erase("duration"); }, [](JSON& j) { j["flags"] = "partial"; },
        [](JSON& j) { j["sources"][0]["path"] = 5; }, [](JSON& j) { j["counter"] = -1; }};
    for (const auto& d : damage) {
        bad.push_back(good);
        d(bad.back());
    }
    for (const auto& record : bad)
        EXPECT_EQ(
            openFailure<SnapshotRecord>(
                SignedFile::sealPayload(RepositoryJSON::encodeBytes(record, false), repo.keys, repo.cipher), repo),
            SFKind::payloadUnreadable)
            << record.dump();
}

}  // namespace
}  // namespace wm

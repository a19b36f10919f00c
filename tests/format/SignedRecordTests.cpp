#include <gtest/gtest.h>

#include <limits>
#include <tuple>

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
    return {.id = UUID::random(),
            .counter = 3,
            .deviceID = Bytes(16, 4),
            .deviceName = "Kitchen iMac",
            .createdAt = Date::fromMicroseconds(1700000000456000),
            .hostPlatform = "6.1.0",
            .appVersion = "0.1.3",
            .sources = {{Bytes{'/', 'h', 0xFF, 0xFE}, "folder"}, {bytesOf("/Users"), "wholeMac"}},
            .rootTree = Bytes(32, 0xEE),
            .stats = {10, 2, 1 << 20, 1000, 5, 1, 0, 12.5},
            .flags = {"partial"}};
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
    test::Repo repo, other;
    const Bytes file = SignedFile::seal(sampleHead(), repo.keys, repo.cipher);
    const auto changed = [&](void (*change)(Bytes&)) {
        Bytes b = file;
        change(b);
        return b;
    };
    const auto sealed = [&](ByteView payload) { return SignedFile::sealPayload(payload, repo.keys, repo.cipher); };
    JSON badDate = sampleHead().toJSON();
    badDate["updatedAt"] = "yesterday";
    // A flipped bit in the sealed part or in the signature (the fuzz corpus tries the rest), the file cut short or
    // extended; signed and sealed bytes that are not JSON at all, or a record whose date does not parse.
    const std::pair<Bytes, SFKind> rows[] = {
        {Bytes{}, SFKind::tooSmall},
        {Bytes(64, 0), SFKind::tooSmall},
        {Bytes(65, 0), SFKind::signatureInvalid},
        {changed([](Bytes& b) { b.front() ^= 4; }), SFKind::signatureInvalid},
        {changed([](Bytes& b) { b.back() ^= 4; }), SFKind::signatureInvalid},
        {changed([](Bytes& b) { b.pop_back(); }), SFKind::signatureInvalid},
        {changed([](Bytes& b) { b.push_back(0); }), SFKind::signatureInvalid},
        {sealed(viewOf("not json")), SFKind::payloadUnreadable},
        {sealed(RepositoryJSON::encodeBytes(badDate, false)), SFKind::payloadUnreadable},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(openFailure<HeadRecord>(rows[i].first, repo), rows[i].second) << i;
    EXPECT_EQ(openFailure<HeadRecord>(file, other), SFKind::signatureInvalid);      // another repository's keys
    EXPECT_EQ(openFailure<SnapshotRecord>(file, repo), SFKind::payloadUnreadable);  // a head is not a snapshot

    // A valid signature over a sealed part too short to open: the cipher's error.
    Bytes tiny{0x42};
    const Bytes sig = repo.keys.sign(tiny);
    tiny.insert(tiny.end(), sig.begin(), sig.end());
    EXPECT_EQ(test::thrown<BlobCipherError>([&] { SignedFile::open<HeadRecord>(tiny, repo.keys, repo.cipher); }).kind,
              BlobCipherError::Kind::metadataTruncated);
}

TEST(HeadRecord, Verdicts) {
    auto head = [](std::uint64_t c) { return HeadRecord(c, {}, Date{}, Bytes(16, 0)); };
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::tuple<std::uint64_t, std::optional<std::uint64_t>, HeadVerdict> rows[] = {
        {0, std::nullopt, HeadVerdict::advanced(0, 0)},
        {7, 5, HeadVerdict::advanced(5, 7)},
        {7, 7, HeadVerdict::unchanged(7)},
        {7, 8, HeadVerdict::rollbackSuspected(7, 8)},
        {0, max, HeadVerdict::rollbackSuspected(0, max)},
    };
    for (const auto& [found, remembered, verdict] : rows) {
        const HeadVerdict v = head(found).compare(remembered);
        EXPECT_EQ(v, verdict) << v.description();
        EXPECT_EQ(v.isSuspicious(), verdict.kind == HeadVerdict::Kind::rollbackSuspected);
    }
}

TEST(HeadRecord, JSONFormAndEquality) {
    const HeadRecord h = sampleHead();
    const std::string text = RepositoryJSON::encode(h.toJSON(), false);
    EXPECT_EQ(text.find("{\"counter\":7,\"snapshots\":[\"01234567-89AB-CDEF-0123-456789ABCDEF\","), 0u);
    EXPECT_NE(text.find("\"updatedAt\":\"2023-11-14T22:13:20.123Z\",\"v\":2,\"writerDeviceID\":\""), std::string::npos);
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
    void (*const damage[])(JSON&) = {[](JSON& j) { j["stats"].erase("duration"); },
                                     [](JSON& j) { j["flags"] = "partial"; },
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

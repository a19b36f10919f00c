// Randomly mutated hold records, retention records and lock files: decoding refuses them only
// with its own error, and the repository reads them tolerantly, never writing over a bad lock.
#include <random>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "core/RepositoryJSON.h"
#include "engine/HoldRecord.h"
#include "engine/RetentionRecord.h"
#include "engine/WritingLock.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm::test {
namespace {

// One to three random edits: a byte changed, removed or doubled, or a piece of JSON put in.
Bytes mutated(const Bytes& original, std::mt19937_64& random) {
    static const std::string pieces[] = {"{", "}", "[", "]", "\"", ",", ":", "null", "-1", "1e999", "true",
                                         "\"\\u0000\"", "9223372036854775808", "0.5", "{}", "[]"};
    Bytes bytes = original;
    for (int e = 1 + static_cast<int>(random() % 3); e > 0; --e) {
        const auto at = static_cast<std::ptrdiff_t>(bytes.empty() ? 0 : random() % bytes.size());
        const auto kind = random() % 4;
        if (kind < 3 && bytes.empty()) continue;
        if (kind == 0) bytes[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(random());
        if (kind == 1) bytes.erase(bytes.begin() + at);
        if (kind == 2) bytes.insert(bytes.begin() + at, bytes[static_cast<std::size_t>(at)]);
        if (kind == 3) {
            const std::string& piece = pieces[random() % std::size(pieces)];
            bytes.insert(bytes.begin() + at, piece.begin(), piece.end());
        }
    }
    return bytes;
}

template <class Record>
bool decodes(const Bytes& bytes) {
    try {
        const Record record = Record::fromJSON(RepositoryJSON::decode(bytes));
        // Once stored (times to the millisecond) it reads back the same.
        const Record stored = Record::fromJSON(record.toJSON());
        if constexpr (requires { record.hold(); }) {
            EXPECT_NO_THROW(record.hold());
        }
        EXPECT_EQ(Record::fromJSON(stored.toJSON()), stored) << std::string(bytes.begin(), bytes.end());
        return true;
    } catch (const RepositoryJSON::DecodingError&) {
        return false;
    }
}

class RecordMutation : public FaultyRepositoryTest {
protected:
    std::mt19937_64 random{20240611};

    // Mutates the record's text 3000 times; every 30th, the sealed file goes through `check`
    // with whether the record decoded.
    template <class Record, class Check>
    void mutateRecord(const Record& record, const RepoPath& path, Check check) {
        const Bytes original = RepositoryJSON::encodeBytes(record.toJSON(), false);
        int decoded = 0;
        for (int i = 0; i < 3000; ++i) {
            const Bytes bytes = mutated(original, random);
            const bool ok = decodes<Record>(bytes);
            decoded += ok ? 1 : 0;
            if (i % 30 != 0) continue;
            memory->put(path, SignedFile::sealPayload(bytes, keys, repository->cipher()));
            SCOPED_TRACE(std::string(bytes.begin(), bytes.end()));
            check(ok);
        }
        EXPECT_GT(decoded, 0);
    }
};

TEST_F(RecordMutation, HoldRecordsDecodeOrAreCountedUnreadable) {
    RetentionHold hold{HoldID::random(), HoldReason::verificationFailure(SnapshotID::random()), fixedNow(),
                       fixedNow().adding(-60.0), fixedNow().adding(60.0)};
    mutateRecord(HoldRecord(hold), RepositoryLayout::hold(hold.id), [&](bool ok) {
        HoldListing listing;
        ASSERT_NO_THROW(listing = holds(*repository));
        EXPECT_EQ(listing.holds.size() + static_cast<std::size_t>(listing.unreadable), 1u);
        EXPECT_TRUE(ok || listing.unreadable == 1);
    });
}

TEST_F(RecordMutation, RetentionRecordsDecodeOrKeepEverything) {
    mutateRecord(RetentionRecord(RetentionPolicy::smart(24, 7, 12, 3)), RepositoryLayout::retentionSetting(),
                 [&](bool ok) {
                     std::optional<RetentionPolicy> policy;
                     ASSERT_NO_THROW(policy = retentionPolicy(*repository));
                     ASSERT_TRUE(policy.has_value());
                     EXPECT_TRUE(ok || *policy == RetentionRecord::keepEverything());
                 });
}

TEST_F(RecordMutation, LockFilesThatDoNotReadAsALockAreLeftAsTheyAre) {
    DeviceID other;
    other.bytes.fill(0x11);
    const RepositoryLock lock{"Laptop", other.hex(), fixedNow().adding(-3600.0), fixedNow().adding(-10.0)};
    const Bytes original = RepositoryJSON::encodeBytes(lock.toJSON(), false);

    for (int i = 0; i < 400; ++i) {
        const Bytes bytes = mutated(original, random);
        memory->put(RepositoryLayout::lockFile(), bytes);
        WritingClaim claim;
        ASSERT_NO_THROW(claim = claimWriting(*repository, "Studio", fixedNow()));
        const Bytes after = memory->read(RepositoryLayout::lockFile());
        if (claim.verdict.forbidsWriting()) {
            EXPECT_EQ(after, bytes) << "a lock that forbids writing was changed";
        } else {
            // Allowed only for a lock that read as one: now it is this device's.
            EXPECT_TRUE(claim.holdsLock());
            EXPECT_EQ(RepositoryLock::fromJSON(RepositoryJSON::decode(after)).deviceID, testDevice().hex());
        }
    }
}

}  // namespace
}  // namespace wm::test

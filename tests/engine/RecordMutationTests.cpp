// Randomly mutated hold records, retention records and lock files: decoding refuses them
// only with its own error, and the repository reads them tolerantly (counted, kept
// everything, held by another Mac) without ever writing over a lock it could not read.
#include <random>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "core/RepositoryJSON.h"
#include "engine/HoldRecord.h"
#include "engine/RetentionRecord.h"
#include "engine/WritingLock.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm::test {
namespace {

// One random edit of the text: a byte changed, removed, doubled, or a piece of JSON syntax
// put in somewhere.
Bytes mutated(const Bytes& original, std::mt19937_64& random) {
    static const std::string pieces[] = {"{", "}", "[", "]", "\"", ",", ":", "null", "-1", "1e999", "true",
                                         "\"\\u0000\"", "9223372036854775808", "0.5", "{}", "[]"};
    Bytes bytes = original;
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = bytes.empty() ? 0 : random() % bytes.size();
        switch (random() % 4) {
            case 0:
                if (!bytes.empty()) bytes[at] = static_cast<std::uint8_t>(random());
                break;
            case 1:
                if (!bytes.empty()) bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            case 2:
                if (!bytes.empty()) bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes[at]);
                break;
            default: {
                const std::string& piece = pieces[random() % std::size(pieces)];
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), piece.begin(), piece.end());
                break;
            }
        }
    }
    return bytes;
}

// Decodes with the record's own decoder; true when it gave a record. Any error but the JSON
// coding's own fails the test.
template <class Record>
bool decodes(const Bytes& bytes) {
    try {
        const Record record = Record::fromJSON(RepositoryJSON::decode(bytes));
        // What decodes also encodes, and from then on reads back the same (a time written
        // with more than millisecond digits is stored to the millisecond).
        const Record stored = Record::fromJSON(record.toJSON());
        EXPECT_EQ(Record::fromJSON(stored.toJSON()), stored) << std::string(bytes.begin(), bytes.end());
        return true;
    } catch (const RepositoryJSON::DecodingError&) {
        return false;
    }
}

class RecordMutation : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository = createRepository(memory, keys);
    std::mt19937_64 random{20240611};

    Bytes sealed(const Bytes& payload) { return SignedFile::sealPayload(payload, keys, repository->cipher()); }
};

TEST_F(RecordMutation, HoldRecordsDecodeOrAreCountedUnreadable) {
    RetentionHold hold;
    hold.id = HoldID::random();
    hold.reason = HoldReason::verificationFailure(SnapshotID::random());
    hold.protectsSnapshotsBefore = fixedNow();
    hold.createdAt = fixedNow().adding(-60.0);
    hold.clearedAt = fixedNow().adding(60.0);
    const Bytes original = RepositoryJSON::encodeBytes(HoldRecord(hold).toJSON(), false);

    int decoded = 0;
    for (int i = 0; i < 3000; ++i) {
        const Bytes bytes = mutated(original, random);
        const bool ok = decodes<HoldRecord>(bytes);
        if (ok) {
            ++decoded;
            EXPECT_NO_THROW(HoldRecord::fromJSON(RepositoryJSON::decode(bytes)).hold());
        }
        if (i % 30 != 0) continue;
        // Through the repository: one file, either a hold or one unreadable, never an error.
        memory->put(RepositoryLayout::hold(hold.id), sealed(bytes));
        HoldListing listing;
        ASSERT_NO_THROW(listing = holds(*repository)) << std::string(bytes.begin(), bytes.end());
        EXPECT_EQ(listing.holds.size() + static_cast<std::size_t>(listing.unreadable), 1u);
        if (!ok) {
            EXPECT_EQ(listing.unreadable, 1);
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST_F(RecordMutation, RetentionRecordsDecodeOrKeepEverything) {
    const Bytes original =
        RepositoryJSON::encodeBytes(RetentionRecord(RetentionPolicy::smart(24, 7, 12, 3)).toJSON(), false);
    int decoded = 0;
    for (int i = 0; i < 3000; ++i) {
        const Bytes bytes = mutated(original, random);
        const bool ok = decodes<RetentionRecord>(bytes);
        if (ok) ++decoded;
        if (i % 30 != 0) continue;
        memory->put(RepositoryLayout::retentionSetting(), sealed(bytes));
        std::optional<RetentionPolicy> policy;
        ASSERT_NO_THROW(policy = retentionPolicy(*repository));
        ASSERT_TRUE(policy.has_value());
        if (!ok) {
            EXPECT_EQ(*policy, RetentionRecord::keepEverything());
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST_F(RecordMutation, LockFilesThatDoNotReadAsALockAreLeftAsTheyAre) {
    DeviceID other;
    other.bytes.fill(0x11);
    RepositoryLock lock;
    lock.deviceID = other.hex();
    lock.deviceName = "Laptop";
    lock.acquiredAt = fixedNow().adding(-3600.0);
    lock.heartbeatAt = fixedNow().adding(-10.0);
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

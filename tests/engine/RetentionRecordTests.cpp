// The repository's retention setting.
#include <limits>

#include <gtest/gtest.h>

#include "SnapshotBrowserFixture.h"
#include "engine/RetentionRecord.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm::test {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

class RetentionSetting : public FaultyRepositoryTest {
protected:
    void putRecord(const JSON& json) {
        memory->put(RepositoryLayout::retentionSetting(),
                    SignedFile::sealPayload(RepositoryJSON::encodeBytes(json, false), repository->keys(),
                                            repository->cipher()));
    }
};

TEST_F(RetentionSetting, EveryRuleRoundTrips) {
    EXPECT_EQ(retentionPolicy(*repository), std::nullopt);
    for (const RetentionPolicy& policy : {RetentionPolicy::duration(7), RetentionPolicy::smart(24, 7, 12, kMax),
                                          RetentionPolicy::size(500000000000)}) {
        setRetentionPolicy(*repository, policy);
        EXPECT_EQ(retentionPolicy(*repository), policy);
    }
    // The record holds only its rule's keys.
    setRetentionPolicy(*repository, RetentionPolicy::lastN(30));
    const Bytes payload = SignedFile::openPayload(memory->read(RepositoryLayout::retentionSetting()),
                                                  repository->keys(), repository->cipher());
    EXPECT_EQ(std::string(payload.begin(), payload.end()), R"({"count":30,"rule":"lastN","v":2})");
}

TEST_F(RetentionSetting, RecordToPolicyTable) {
    struct Case {
        JSON json;
        RetentionPolicy expected;
    };
    const Case cases[] = {
        {{{"v", 2}, {"rule", "smart"}, {"hourly", 1}, {"daily", 2}, {"monthly", 3}}, RetentionPolicy::lastN(kMax)},
        {{{"v", 2}, {"rule", "lastN"}}, RetentionPolicy::lastN(kMax)},
        {{{"v", 2}, {"rule", "duration"}, {"count", 5}}, RetentionPolicy::lastN(kMax)},
        {{{"v", 2}, {"rule", "LastN"}, {"count", 5}}, RetentionPolicy::lastN(kMax)},
        {{{"v", 7}, {"rule", "duration"}, {"days", 3}, {"extra", true}}, RetentionPolicy::duration(3)},
        // Not a retention record at all: keep everything.
        {{{"rule", "lastN"}, {"count", 5}}, RetentionPolicy::lastN(kMax)},
        {{{"v", 2}, {"rule", "lastN"}, {"count", "five"}}, RetentionPolicy::lastN(kMax)},
    };
    for (const Case& c : cases) {
        putRecord(c.json);
        EXPECT_EQ(retentionPolicy(*repository), c.expected) << c.json.dump();
    }
}

TEST_F(RetentionSetting, DamagedFileKeepsEverything) {
    setRetentionPolicy(*repository, RetentionPolicy::lastN(3));
    const Bytes whole = memory->read(RepositoryLayout::retentionSetting());
    Bytes flipped = whole;
    flipped[20] ^= 0x40;
    for (const Bytes& damaged : {Bytes(whole.begin(), whole.begin() + 10), flipped}) {
        memory->put(RepositoryLayout::retentionSetting(), damaged);
        EXPECT_EQ(retentionPolicy(*repository), RetentionRecord::keepEverything());
    }
    // A file that cannot be read right now is no setting.
    faulty->failCalls("refs/retention", DestinationError::ioFailed(RepositoryLayout::retentionSetting(), "EIO"),
                      {FaultyDestination::Operation::read});
    EXPECT_EQ(retentionPolicy(*repository), std::nullopt);
}

TEST_F(RetentionSetting, FailedWriteIsThrownAndTheEarlierSettingStays) {
    setRetentionPolicy(*repository, RetentionPolicy::duration(30));
    faulty->failCalls("*", DestinationError::outOfSpace(10, 0), {FaultyDestination::Operation::commit});
    EXPECT_THROW(setRetentionPolicy(*repository, RetentionPolicy::lastN(1)), DestinationError);
    EXPECT_EQ(retentionPolicy(*repository), RetentionPolicy::duration(30));

    auto readOnly = openRepository(memory, keys, Repository::Access::readOnly).repository;
    EXPECT_ANY_THROW(setRetentionPolicy(*readOnly, RetentionPolicy::lastN(1)));
    EXPECT_EQ(retentionPolicy(*readOnly), RetentionPolicy::duration(30));
}

}  // namespace
}  // namespace wm::test

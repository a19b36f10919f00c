#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/RepositoryJSON.h"
#include "core/RepositoryLock.h"
#include "support/DataTable.h"

namespace {

using namespace wm;
namespace RJ = wm::RepositoryJSON;

JSON parse(std::string_view text) { return RJ::decode(viewOf(text)); }

TEST(RepositoryJSONWriting, CompactAndPrettyWithSortedKeys) {
    JSON value = {{"zeta", 1}, {"alpha", JSON::array({true, nullptr, "x"})}, {"mid", JSON::object()}};
    EXPECT_EQ(RJ::encode(value, false), R"({"alpha":[true,null,"x"],"mid":{},"zeta":1})");
    EXPECT_EQ(RJ::encode(value, true),
              "{\n  \"alpha\" : [\n    true,\n    null,\n    \"x\"\n  ],\n  \"mid\" : {\n\n  },\n  \"zeta\" : 1\n}");
    EXPECT_EQ(RJ::encode(JSON{{"a", 1}}, true), "{\n  \"a\" : 1\n}");
    EXPECT_EQ(RJ::encodeBytes(JSON::array(), false), bytesOf("[]"));
}

TEST(RepositoryJSONWriting, StringsAndNumbers) {
    EXPECT_EQ(RJ::encode(JSON("a\"b\\c/d\n\t\x01"), false), R"("a\"b\\c\/d\n\t\u0001")");
    EXPECT_EQ(RJ::encode(JSON("caf\xC3\xA9"), false), "\"caf\xC3\xA9\"");
    // Broken UTF-8 is repaired so the output is always valid JSON text.
    EXPECT_EQ(RJ::encode(JSON(std::string("a\xFF" "b")), false), "\"a\xEF\xBF\xBD" "b\"");
    EXPECT_EQ(RJ::encode(JSON(std::numeric_limits<std::int64_t>::min()), false), "-9223372036854775808");
    EXPECT_EQ(RJ::encode(JSON(std::numeric_limits<std::uint64_t>::max()), false), "18446744073709551615");
    EXPECT_EQ(RJ::encode(JSON(1.5), false), "1.5");
    EXPECT_EQ(RJ::encode(JSON(2.0), false), "2");
    EXPECT_EQ(RJ::encode(JSON(0.1), false), "0.1");
}

TEST(RepositoryJSONWriting, NonFiniteNumbersAreRefused) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(RJ::encode(JSON{{"deep", JSON::array({1, bad})}}, false), RJ::EncodingError);
        EXPECT_THROW(RJ::encode(JSON(bad), true), RJ::EncodingError);
    }
}

TEST(RepositoryJSONReading, IntegersAreExactOverTheirRangeAndRefusedOutsideIt) {
    JSON v = parse(R"({"min":-9223372036854775808,"max":9223372036854775807,"umax":18446744073709551615,"whole":12.0,"exp":1e3})");
    EXPECT_EQ(RJ::int64(v["min"], "min"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(RJ::int64(v["max"], "max"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(RJ::uint64(v["umax"], "umax"), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(RJ::uint64(v["max"], "max"), 9223372036854775807ULL);
    EXPECT_EQ(RJ::int32(v["whole"], "whole"), 12);
    EXPECT_EQ(RJ::uint32(v["exp"], "exp"), 1000u);

    using Reader = void (*)(const JSON&);
    const Reader i64 = [](const JSON& j) { (void)RJ::int64(j, "n"); };
    const Reader u64 = [](const JSON& j) { (void)RJ::uint64(j, "n"); };
    const Reader i32 = [](const JSON& j) { (void)RJ::int32(j, "n"); };
    const Reader u32 = [](const JSON& j) { (void)RJ::uint32(j, "n"); };
    const std::pair<const char*, Reader> refused[] = {
        {"1.5", i64}, {"-0.5", u64},
        {"9223372036854775808", i64},   // int64 max + 1
        {"-9223372036854775809", i64},  // below int64 min: a double now
        {"18446744073709551616", u64},  // uint64 max + 1
        {"1e300", i64}, {"-1", u64}, {"-1", u32}, {"2147483648", i32}, {"-2147483649", i32}, {"4294967296", u32},
        {"9.3e18", i64}, {"\"12\"", i64}, {"true", u64}, {"null", i32},
    };
    for (const auto& [json, read] : refused) EXPECT_THROW(read(parse(json)), RJ::DecodingError) << json;
}

TEST(RepositoryJSONReading, MembersAndErrors) {
    JSON v = parse(R"({"stats":{"files":3,"unknown":"ignored"},"gone":null,"name":"x"})");
    const JSON& stats = RJ::member(v, "stats");
    EXPECT_EQ(RJ::int64(RJ::member(stats, "files", "stats"), "stats.files"), 3);
    EXPECT_TRUE(RJ::has(v, "name"));
    EXPECT_FALSE(RJ::has(v, "gone"));
    EXPECT_FALSE(RJ::has(v, "absent"));
    try {
        RJ::member(stats, "directories", "stats");
        FAIL();
    } catch (const RJ::DecodingError& e) {
        EXPECT_EQ(e.kind, RJ::DecodingError::Kind::keyNotFound);
        EXPECT_EQ(e.path, "stats.directories");
    }
    EXPECT_THROW(RJ::member(v, "gone"), RJ::DecodingError);
    EXPECT_THROW(RJ::member(JSON::array(), "a"), RJ::DecodingError);
    EXPECT_THROW(RJ::text(RJ::member(v, "stats"), "stats"), RJ::DecodingError);
    EXPECT_THROW(RJ::boolean(JSON(1), "b"), RJ::DecodingError);
    EXPECT_THROW(RJ::decode(viewOf("{\"a\":")), RJ::DecodingError);
    EXPECT_THROW(RJ::decode(viewOf("")), RJ::DecodingError);
    EXPECT_THROW(RJ::decode(viewOf("{} trailing")), RJ::DecodingError);
}

TEST(RepositoryJSONReading, DataAndUUIDs) {
    EXPECT_EQ(RJ::toData(RJ::data(bytesOf("hello")), "d"), bytesOf("hello"));
    EXPECT_EQ(RJ::data(bytesOf("hi")), JSON("aGk="));
    EXPECT_THROW(RJ::toData(JSON("aGk"), "d"), RJ::DecodingError);
    EXPECT_THROW(RJ::toData(JSON("a*k="), "d"), RJ::DecodingError);
    UUID u = UUID::random();
    EXPECT_EQ(RJ::uuid(u).get<std::string>(), u.uuidString());
    EXPECT_EQ(RJ::toUUID(RJ::uuid(u), "id"), u);
    EXPECT_EQ(RJ::toUUID(JSON("e621e1f8-c36c-495a-93fc-0c247a3e6e5f"), "id").uuidString(),
              "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_THROW(RJ::toUUID(JSON("e621e1f8c36c495a93fc0c247a3e6e5f"), "id"), RJ::DecodingError);
    EXPECT_THROW(RJ::toUUID(JSON("E621E1F8-C36C-495A-93FC-0C247A3E6E5"), "id"), RJ::DecodingError);
}

TEST(RepositoryJSONReading, KeyedIdentifiers) {
    const BlobID blob = *BlobID::fromBytes(Bytes(32, 7));
    EXPECT_EQ(RJ::encode(RJ::identifier(*DeviceID::fromBytes(Bytes(16, 0))), false),
              R"({"bytes":"AAAAAAAAAAAAAAAAAAAAAA=="})");
    EXPECT_EQ(RJ::toIdentifier<BlobID>(RJ::identifier(blob), "root"), blob);
    const SnapshotID snapshot = SnapshotID::random();
    EXPECT_EQ(RJ::identifier(snapshot), (JSON{{"value", snapshot.value.uuidString()}}));
    EXPECT_EQ(RJ::toIdentifier<SnapshotID>(RJ::identifier(snapshot), "id"), snapshot);
    try {
        RJ::toIdentifier<PackID>(JSON{{"bytes", RJ::data(Bytes(31, 1))}}, "pack");
        FAIL();
    } catch (const RJ::DecodingError& e) {
        EXPECT_EQ(e.kind, RJ::DecodingError::Kind::dataCorrupted);
        EXPECT_EQ(e.path, "pack.bytes");
    }
    EXPECT_THROW(RJ::toIdentifier<HoldID>(JSON{{"bytes", "AA=="}}, "hold"), RJ::DecodingError);
}

TEST(RepositoryJSONDates, WrittenInMillisecondsWithZReadWithFractionsAndOffsetsOrRefused) {
    for (const auto& row : test::dataTable(test::dataFile("core/dates.tsv"), 3, '\t')) {
        const std::string& kind = row.at(0);
        SCOPED_TRACE(row.at(1));
        if (kind == "write") {
            EXPECT_EQ(RJ::dateText(Date{std::stoll(row.at(1))}), row.at(2));
        } else if (kind == "read") {
            const auto d = RJ::parseDate(row.at(1));
            ASSERT_TRUE(d.has_value());
            EXPECT_EQ(d->microseconds, std::stoll(row.at(2)));
        } else {
            EXPECT_FALSE(RJ::parseDate(row.at(1)).has_value());
            try {
                RJ::toDate(JSON(row.at(1)), "createdAt");
                ADD_FAILURE();
            } catch (const RJ::DecodingError& e) {
                EXPECT_EQ(e.kind, RJ::DecodingError::Kind::dataCorrupted);
                EXPECT_EQ(e.detail, "not an ISO 8601 timestamp with fractional seconds");
                EXPECT_EQ(e.path, "createdAt");
            }
        }
    }
    EXPECT_EQ(RJ::dateText(Date::distantPast()), "0001-01-01T00:00:00.000Z");
    EXPECT_EQ(RJ::dateText(Date::distantFuture()), "4001-01-01T00:00:00.000Z");
    EXPECT_THROW(RJ::toDate(JSON(12), "d"), RJ::DecodingError);
}

TEST(RepositoryJSONDates, RoundTrips) {
    const Date dates[] = {Date{0},
                          Date::distantPast(),
                          Date::distantFuture(),
                          Date{-1},
                          Date{1796590835123000},
                          Date{-62135596800000000 - 86400000000LL},  // year 0
                          Date{253402300799999000},                   // 9999-12-31T23:59:59.999
                          Date{253402300800000000},                   // year 10000
                          Date{std::numeric_limits<std::int64_t>::max()}.repositoryPrecision(),
                          Date{std::numeric_limits<std::int64_t>::min() + 1000}.repositoryPrecision()};
    for (Date d : dates) {
        const Date stored = d.repositoryPrecision();
        auto back = RJ::parseDate(RJ::dateText(stored));
        ASSERT_TRUE(back.has_value()) << RJ::dateText(stored);
        EXPECT_EQ(*back, stored) << RJ::dateText(stored);
        EXPECT_EQ(RJ::toDate(RJ::date(stored), "d"), stored);
    }
}

TEST(RepositoryLockCoding, RoundTripAndKeys) {
    RepositoryLock lock{"Studio Mac", "00112233445566778899aabbccddeeff", Date{1796590835123000},
                        Date{1796590895123000}};
    EXPECT_EQ(RJ::encode(lock.toJSON(), false),
              R"({"acquiredAt":"2026-12-06T21:00:35.123Z","deviceID":"00112233445566778899aabbccddeeff",)"
              R"("deviceName":"Studio Mac","heartbeatAt":"2026-12-06T21:01:35.123Z"})");
    EXPECT_EQ(RepositoryLock::fromJSON(RJ::decode(RJ::encodeBytes(lock.toJSON(), true))), lock);
    EXPECT_THROW(RepositoryLock::fromJSON(parse("{}")), RJ::DecodingError);
    EXPECT_THROW(RepositoryLock::fromJSON(parse("[1]")), RJ::DecodingError);
    EXPECT_THROW(RepositoryLock::fromJSON(parse(
                     R"({"acquiredAt":"yesterday","deviceID":"a","deviceName":"b","heartbeatAt":"2026-12-06T21:01:35.123Z"})")),
                 RJ::DecodingError);
}

}  // namespace

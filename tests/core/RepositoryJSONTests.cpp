#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/RepositoryJSON.h"
#include "core/RepositoryLock.h"
#include "support/DataTable.h"
#include "support/Thrown.h"

namespace {

using namespace wm;
namespace RJ = wm::RepositoryJSON;

JSON parse(std::string_view text) { return RJ::decode(viewOf(text)); }

TEST(RepositoryJSONWriting, CompactAndPrettyWithSortedKeys) {
    JSON value = {{"zeta", 1}, {"alpha", JSON::array({true, nullptr, "x"})}, {"mid", JSON::object()}};
    EXPECT_EQ(RJ::encode(value, false), R"({"alpha":[true,null,"x"],"mid":{},"zeta":1})");
    EXPECT_EQ(RJ::encode(value, true),
              "{\n  \"alpha\" : [\n    true,\n    null,\n    \"x\"\n  ],\n  \"mid\" : {\n\n  },\n  \"zeta\" : 1\n}");
}

// Broken UTF-8 is repaired so the output is always valid JSON text.
TEST(RepositoryJSONWriting, Strings) {
    EXPECT_EQ(RJ::encode(JSON("a\"b\\c/d\n\t\x01"), false), R"("a\"b\\c\/d\n\t\u0001")");
    EXPECT_EQ(RJ::encode(JSON(std::string("a\xFF") + "b"), false), "\"a\uFFFDb\"");
}

TEST(RepositoryJSONWriting, NonFiniteNumbersAreRefused) {
    for (double bad :
         {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        EXPECT_THROW(RJ::encode(JSON{{"deep", JSON::array({1, bad})}}, false), RJ::EncodingError);
        EXPECT_THROW(RJ::encode(JSON(bad), true), RJ::EncodingError);
    }
}

TEST(RepositoryJSON, NumbersReadAndWritten) {
    auto reading = [](auto read) {
        return [read](const std::string& json) {
            try {
                return std::to_string(read(parse(json), "n"));
            } catch (const RJ::DecodingError&) {
                return std::string("refused");
            }
        };
    };
    test::expectAnswers("core/json-numbers.tsv",
                        {{"int64", reading(RJ::int64)},
                         {"uint64", reading(RJ::uint64)},
                         {"int32", reading(RJ::int32)},
                         {"uint32", reading(RJ::uint32)},
                         {"written", [](const std::string& json) { return RJ::encode(parse(json), false); }}});
}

TEST(RepositoryJSONReading, MembersAndErrors) {
    JSON v = parse(R"({"stats":{"files":3},"gone":null})");
    const JSON& stats = RJ::member(v, "stats");
    EXPECT_FALSE(RJ::has(v, "gone"));
    const auto missing = test::thrown<RJ::DecodingError>([&] { RJ::member(stats, "directories", "stats"); });
    EXPECT_EQ(missing.kind, RJ::DecodingError::Kind::keyNotFound);
    EXPECT_EQ(missing.path, "stats.directories");
    EXPECT_THROW(RJ::member(v, "gone"), RJ::DecodingError);
    EXPECT_THROW(RJ::member(JSON::array(), "a"), RJ::DecodingError);
    EXPECT_THROW(RJ::text(stats, "stats"), RJ::DecodingError);
    EXPECT_THROW(RJ::boolean(JSON(1), "b"), RJ::DecodingError);
    for (const char* bad : {"{\"a\":", "", "{} trailing"})
        EXPECT_THROW(RJ::decode(viewOf(bad)), RJ::DecodingError) << bad;
    for (const char* bad : {"aGk", "a*k="}) EXPECT_THROW(RJ::toData(JSON(bad), "d"), RJ::DecodingError) << bad;
    EXPECT_THROW(RJ::toUUID(JSON("e621e1f8c36c495a93fc0c247a3e6e5f"), "id"), RJ::DecodingError);
}

TEST(RepositoryJSONReading, ArraysOfTextsAndUUIDs) {
    const std::vector<UUID> ids = {UUID::random(), UUID::random()};
    EXPECT_EQ(RJ::uuids(RJ::uuidArray(ids), "ids"), ids);
    EXPECT_EQ(RJ::texts(RJ::textArray({"a", ""}), "names"), (std::vector<std::string>{"a", ""}));
    // Not an array, and an element of the wrong kind: both are named by the array's path.
    for (const char* bad : {R"({"a":1})", R"(["x",2])", R"("x")"}) {
        const auto e = test::thrown<RJ::DecodingError>([&] { RJ::texts(parse(bad), "names"); });
        EXPECT_EQ(e.kind, RJ::DecodingError::Kind::typeMismatch) << bad;
        EXPECT_EQ(e.path, "names") << bad;
    }
    EXPECT_EQ(test::thrown<RJ::DecodingError>([&] { RJ::uuids(parse(R"(["nope"])"), "ids"); }).kind,
              RJ::DecodingError::Kind::dataCorrupted);
}

TEST(RepositoryJSONReading, KeyedIdentifiers) {
    EXPECT_EQ(RJ::encode(RJ::identifier(*DeviceID::fromBytes(Bytes(16, 0))), false),
              R"({"bytes":"AAAAAAAAAAAAAAAAAAAAAA=="})");
    const SnapshotID snapshot = SnapshotID::random();
    EXPECT_EQ(RJ::toIdentifier<SnapshotID>(RJ::identifier(snapshot), "id"), snapshot);
    const auto e = test::thrown<RJ::DecodingError>([] {
        RJ::toIdentifier<PackID>(JSON{{"bytes", RJ::data(Bytes(31, 1))}}, "pack");
    });
    EXPECT_EQ(e.kind, RJ::DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(e.path, "pack.bytes");
}

TEST(RepositoryJSONDates, WrittenInMillisecondsWithZReadWithFractionsAndOffsetsOrRefused) {
    for (const auto& row : test::dataTable("core/dates.tsv", 3)) {
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
            EXPECT_THROW(RJ::toDate(JSON(row.at(1)), "createdAt"), RJ::DecodingError);
        }
    }
    EXPECT_THROW(RJ::toDate(JSON(12), "d"), RJ::DecodingError);
}

TEST(RepositoryJSONDates, RoundTrips) {
    const Date dates[] = {Date{-1},
                          Date{1796590835123000},
                          Date{-62135596800000000 - 86400000000LL},  // year 0
                          Date{253402300800000000},                  // year 10000
                          Date{std::numeric_limits<std::int64_t>::max()}.repositoryPrecision(),
                          Date{std::numeric_limits<std::int64_t>::min() + 1000}.repositoryPrecision()};
    for (Date d : dates)
        EXPECT_EQ(RJ::toDate(RJ::date(d.repositoryPrecision()), "d"), d.repositoryPrecision()) << RJ::dateText(d);
}

TEST(RepositoryLockCoding, RoundTripAndKeys) {
    RepositoryLock lock{"Studio Mac", "00112233445566778899aabbccddeeff", Date{1796590835123000},
                        Date{1796590895123000}};
    EXPECT_EQ(RJ::encode(lock.toJSON(), false),
              R"({"acquiredAt":"2026-12-06T21:00:35.123Z","deviceID":"00112233445566778899aabbccddeeff",)"
              R"("deviceName":"Studio Mac","heartbeatAt":"2026-12-06T21:01:35.123Z"})");
    EXPECT_EQ(RepositoryLock::fromJSON(RJ::decode(RJ::encodeBytes(lock.toJSON(), true))), lock);
    EXPECT_THROW(RepositoryLock::fromJSON(parse("[1]")), RJ::DecodingError);
    EXPECT_THROW(
        RepositoryLock::fromJSON(parse(
            R"({"acquiredAt":"yesterday","deviceID":"a","deviceName":"b","heartbeatAt":"2026-12-06T21:01:35.123Z"})")),
        RJ::DecodingError);
}

}  // namespace

// Randomised mutation of valid inputs for the core decoders: every outcome must be a
// value or the decoder's own error, and what is accepted must survive a round trip.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/ByteCursor.h"
#include "core/RepositoryJSON.h"
#include "core/RepositoryLock.h"
#include "core/Unicode.h"

namespace {

using namespace wm;
namespace RJ = wm::RepositoryJSON;

std::string mutate(std::string s, std::mt19937_64& rng) {
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
        switch (rng() % 5) {
            case 0:
                if (!s.empty()) s[pick(s.size())] = static_cast<char>(rng());
                break;
            case 1:
                if (!s.empty()) s.erase(pick(s.size()), 1 + pick(3));
                break;
            case 2: s.insert(pick(s.size() + 1), 1, "0123456789:-+.TZ\"{}[],\\"[pick(23)]); break;
            case 3:
                if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1 << pick(8));
                break;
            default: {
                if (s.size() > 2) {
                    std::size_t a = pick(s.size()), len = 1 + pick(s.size() - a);
                    s.insert(pick(s.size() + 1), s.substr(a, len));
                }
            }
        }
    }
    return s;
}

TEST(Mutation, DateParsing) {
    std::mt19937_64 rng(20260612);
    const std::vector<std::string> seeds = {"2026-12-06T21:00:35.123Z", "0001-01-01T00:00:00.000Z",
                                            "1999-12-31T23:59:59.999999999+05:30", "+12345-06-07T08:09:10.5-0800"};
    int accepted = 0;
    for (int i = 0; i < 40000; ++i) {
        const std::string text = mutate(seeds[static_cast<std::size_t>(i) % seeds.size()], rng);
        auto d = RJ::parseDate(text);
        if (!d) continue;
        ++accepted;
        const Date stored = d->repositoryPrecision();
        auto again = RJ::parseDate(RJ::dateText(stored));
        ASSERT_TRUE(again) << text;
        ASSERT_EQ(*again, stored) << text;
    }
    EXPECT_GT(accepted, 0);
}

TEST(Mutation, JSONDocuments) {
    std::mt19937_64 rng(7);
    RepositoryLock lock{"Mac \xE2\x80\x9Cone\xE2\x80\x9D", "00112233445566778899aabbccddeeff", Date{1796590835123000},
                        Date{1796590895123000}};
    const std::vector<std::string> seeds = {
        RJ::encode(lock.toJSON(), false),
        RJ::encode(lock.toJSON(), true),
        R"({"a":[1,-2,3.5,1e400,18446744073709551615,{"b":null}],"s":"\u00e9\ud83d\ude00"})",
    };
    for (int i = 0; i < 20000; ++i) {
        const std::string text = mutate(seeds[static_cast<std::size_t>(i) % seeds.size()], rng);
        JSON value;
        try {
            value = RJ::decode(viewOf(text));
        } catch (const RJ::DecodingError&) {
            continue;
        }
        try {
            // Writing keeps milliseconds and repairs text, so one trip settles the value.
            const auto trip = [](const RepositoryLock& l) {
                return RepositoryLock::fromJSON(RJ::decode(RJ::encodeBytes(l.toJSON(), false)));
            };
            const RepositoryLock settled = trip(RepositoryLock::fromJSON(value));
            ASSERT_EQ(trip(settled), settled);
        } catch (const RJ::DecodingError&) {
        }
        std::string written;
        try {
            written = RJ::encode(value, i % 2 == 0);
        } catch (const RJ::EncodingError&) {
            continue;  // a number too large for a double became infinite
        }
        ASSERT_TRUE(Unicode::isValidUTF8(viewOf(written)));
        ASSERT_NO_THROW(RJ::decode(viewOf(written))) << written;
    }
}

TEST(Mutation, DeepNestingIsRefused) {
    std::string deep(100000, '[');
    EXPECT_THROW(RJ::decode(viewOf(deep + std::string(100000, ']'))), RJ::DecodingError);
    std::string fine(100, '[');
    EXPECT_NO_THROW(RJ::decode(viewOf(fine + std::string(100, ']'))));
    EXPECT_NO_THROW(RJ::decode(viewOf("\"" + deep + "\"")));  // brackets inside a string do not count
}

TEST(Mutation, UTF8Repair) {
    std::mt19937_64 rng(99);
    const std::string seed = "na\xC3\xAFve caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE4\xB8\xAD";
    for (int i = 0; i < 20000; ++i) {
        const std::string text = mutate(seed, rng);
        const std::string repaired = Unicode::decodeUTF8Repairing(text);
        ASSERT_TRUE(Unicode::isValidUTF8(viewOf(repaired)));
        ASSERT_EQ(Unicode::decodeUTF8Repairing(repaired), repaired);
        ASSERT_EQ(Unicode::isValidUTF8(viewOf(text)), repaired == text);
    }
}

// A small record format read the way every binary decoder reads: a count checked
// against the remaining bytes, then length-prefixed names and identifiers.
void readRecord(ByteView bytes) {
    ByteCursor c(bytes);
    const std::int64_t n = c.takeBoundedCount(34, "entries");
    for (std::int64_t i = 0; i < n; ++i) {
        c.takeLengthPrefixed16String();
        c.takeBlobID();
    }
    c.takeLengthPrefixed32();
    c.takeUInt64();
}

TEST(Mutation, ByteCursorRecords) {
    std::mt19937_64 rng(31337);
    std::string seed;
    const auto put32 = [&](std::uint32_t v) {
        for (int k = 0; k < 4; ++k) seed += static_cast<char>(v >> (8 * k));
    };
    put32(3);
    for (int i = 0; i < 3; ++i) {
        seed += std::string("\x04\x00", 2) + "name";
        seed += std::string(32, static_cast<char>('a' + i));
    }
    put32(5);
    seed += "hello";
    seed += std::string(8, '\x01');
    ASSERT_NO_THROW(readRecord(viewOf(seed)));
    int accepted = 0;
    for (int i = 0; i < 40000; ++i) {
        const std::string bytes = mutate(seed, rng);
        try {
            readRecord(viewOf(bytes));
            ++accepted;
        } catch (const ByteCursor::Error&) {
        }
    }
    EXPECT_GT(accepted, 0);
}

}  // namespace

#include <gtest/gtest.h>

#include <optional>

#include "restore/PathSafetyViolation.h"
#include "restore/SafeName.h"

namespace wm {
namespace {

using K = PathSafetyViolation::Kind;

struct NameCase {
    const char* label;
    std::string bytes;
    std::optional<K> refusal;  // none: accepted unchanged
    std::string reservedText = "";
};

TEST(SafeName, ValidatesEachComponentInOrder) {
    const NameCase cases[] = {
        {"empty", "", K::emptyName},
        {"dot", ".", K::reservedName, "."},
        {"dot dot", "..", K::reservedName, ".."},
        {"absolute", "/etc", K::absolutePath},
        {"lone slash", "/", K::absolutePath},
        {"separator", "a/b", K::pathSeparatorInName},
        {"NUL", std::string("a\0b", 3), K::nulByteInName},
        {"NUL before slash", std::string("a\0/", 3), K::nulByteInName},
        {"three dots", "...", std::nullopt},
        {"dot prefix", ".hidden", std::nullopt},
        {"invalid UTF-8", "\xff\xfe", std::nullopt},
        {"backslash", "a\\b", std::nullopt},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.refusal) {
            try {
                SafeName name{viewOf(c.bytes)};
                ADD_FAILURE() << "accepted";
            } catch (const PathSafetyViolation& v) {
                EXPECT_EQ(v.kind, *c.refusal);
                EXPECT_EQ(v.name, c.reservedText);
            }
        } else {
            SafeName name{viewOf(c.bytes)};
            EXPECT_EQ(stringOf(name.bytes()), c.bytes);
        }
    }
}

// A value that itself holds a placeholder is inserted as it is.
TEST(PathSafetyViolation, ValuesAreInsertedAsTheyAre) {
    EXPECT_STREQ(PathSafetyViolation::targetAlreadyExists("%@ %lld").what(),
                 "A file or folder named \"%@ %lld\" already exists at the restore target.");
}

}  // namespace
}  // namespace wm

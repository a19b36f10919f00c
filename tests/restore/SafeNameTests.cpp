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

TEST(PathSafetyViolation, SentencesCarryTheirValues) {
    EXPECT_STREQ(PathSafetyViolation::symlinkComponent("docs", 2).what(),
                 "The entry \"docs\" at depth 2 is a symlink. Restoring through a symlink is refused, because a "
                 "planted symlink could redirect the restore outside the folder you chose.");
    EXPECT_STREQ(PathSafetyViolation::nameFoldsOnThisVolume("photos", "Photos").what(),
                 "This backup contains \"photos\", but the disk you are restoring to already has \"Photos\" and treats "
                 "the two names as the same file. Restore to a case-sensitive disk to get both.");
    EXPECT_STREQ(PathSafetyViolation::ioFailure("a", "linkat", "No such file or directory").what(),
                 "Restoring \"a\" failed during linkat: No such file or directory.");
    EXPECT_STREQ(PathSafetyViolation::tooManyComponents(512).what(),
                 "This entry is nested deeper than 512 levels, which is refused as a safety limit.");
    // A value that itself holds a placeholder is inserted as it is.
    EXPECT_STREQ(PathSafetyViolation::targetAlreadyExists("%@ %lld").what(),
                 "A file or folder named \"%@ %lld\" already exists at the restore target.");
}

}  // namespace
}  // namespace wm

#include <gtest/gtest.h>

#include <set>

#include "CryptoTestSupport.h"
#include "crypto/RecoveryKey.h"
#include "support/DataTable.h"

namespace wm {
namespace {

TEST(RecoveryKey, GeneratedKeysRoundTripThroughTheirText) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const RecoveryKey key = RecoveryKey::generate();
        ASSERT_EQ(RecoveryKey::parse(key.text()), key);
        seen.insert(key.text());
    }
    EXPECT_EQ(seen.size(), 200u);
}

// The key's text, or the error: its kind, then the length counted or the character at its index.
std::string parsed(const std::string& typed) {
    try {
        return RecoveryKey::parse(typed).text();
    } catch (const RecoveryKeyError& e) {
        if (e.kind == RecoveryKeyError::Kind::wrongLength) return "wrongLength " + std::to_string(e.got);
        if (e.kind == RecoveryKeyError::Kind::checksumMismatch) return "checksumMismatch";
        return "invalidCharacter " + e.character + " at " + std::to_string(e.atIndex);
    }
}

// The typed texts of tests/data/crypto: case, spacing, hyphens and look-alike letters for 0 and 1 are
// forgiven; the length is counted without hyphens and spaces and checked first, then the characters.
TEST(RecoveryKey, TypedTexts) { test::expectAnswers("crypto/recovery-keys.tsv", {{"parse", parsed}}); }

TEST(RecoveryKey, EverySingleMistypedCharacterIsCaught) {
    std::string text = RecoveryKey::generate().text();
    std::erase(text, '-');
    for (std::size_t i = 0; i < text.size(); ++i) {
        for (char c : RecoveryKey::alphabet) {
            if (c == text[i]) continue;
            std::string typed = text;
            typed[i] = c;
            ASSERT_EQ(testing::thrown<RecoveryKeyError>([&] { RecoveryKey::parse(typed); }).kind,
                      RecoveryKeyError::Kind::checksumMismatch)
                << typed;
        }
    }
}

}  // namespace
}  // namespace wm

// A bucket's object-lock document read as the remote, possibly hostile, text it is. The
// documents and their readings are in tests/data/policy/object-lock.tsv.
#include <gtest/gtest.h>

#include "ExpectedTexts.h"
#include "core/Bytes.h"
#include "policy/ObjectLock.h"

namespace {

using namespace wm;

// "\n", "\t" and "\xHH" written out in the file stand for those bytes.
std::string unescaped(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i] == '\\' && i + 1 < s.size() ? s[++i] : '\0';
        if (c == 'x') out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
        else out += c == 'n' ? '\n' : c == 't' ? '\t' : c ? c : s[i];
    }
    return out;
}

std::string reading(const ObjectLock& lock) {
    const char* names[] = {"compliance", "governance", "enabled", "off"};
    return names[static_cast<int>(lock.kind)] + (lock.days() ? " " + std::to_string(*lock.days()) : "");
}

TEST(ObjectLock, ReadsModeAndRetention) {
    test::forEachLine("object-lock.tsv", [](const std::string& document, const std::string& expected) {
        EXPECT_EQ(reading(ObjectLock::parse(viewOf(unescaped(document)))), expected) << document;
    });
}

}  // namespace

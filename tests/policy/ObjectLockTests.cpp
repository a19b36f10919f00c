// A bucket's object-lock document read as the remote, possibly hostile, text it is. The
// documents and their readings are in tests/data/policy/object-lock.tsv.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

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

TEST(ObjectLock, ReadsModeAndRetention) {
    std::ifstream in(std::string(WM_POLICY_TEST_DATA) + "/object-lock.tsv");
    ASSERT_TRUE(in);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line.substr(0, line.find('\t')));
        std::string kind;
        std::int64_t days = 0;
        fields >> kind >> days;
        const ObjectLock expected = kind == "compliance" ? ObjectLock::compliance(days)
                                    : kind == "governance" ? ObjectLock::governance(days)
                                    : kind == "enabled" ? ObjectLock::enabledWithoutDefault() : ObjectLock::off();
        const std::string document = unescaped(line.substr(line.find('\t') + 1));
        const auto lock = ObjectLock::parse(viewOf(document));
        EXPECT_EQ(lock, expected) << line;
        EXPECT_EQ(lock.days(), expected.days()) << line;
        EXPECT_EQ(lock.sentence().has_value(), kind != "off") << line;
    }
}

}  // namespace

#pragma once
// Expected sentences kept in tests/data/policy/<file>: one "name<TAB>text" per line,
// "#" starts a comment. A test builds the actual texts by name and checks them all in
// one loop, so every text is written once and compared word for word.
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace wm::test {

inline std::map<std::string, std::string> expectedTexts(const std::string& file) {
    std::ifstream in(std::string(WM_POLICY_TEST_DATA) + "/" + file);
    EXPECT_TRUE(in) << file;
    std::map<std::string, std::string> texts;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto tab = line.find('\t');
        EXPECT_NE(tab, std::string::npos) << line;
        if (tab != std::string::npos) texts[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return texts;
}

// Every name of the file has an actual text equal to it, and every actual text is in
// the file. An absent actual text is written "(none)" in the file.
inline void expectTexts(const std::string& file, const std::map<std::string, std::optional<std::string>>& actual) {
    const auto expected = expectedTexts(file);
    for (const auto& [name, text] : actual) {
        auto it = expected.find(name);
        if (it == expected.end()) {
            ADD_FAILURE() << file << " has no line for " << name;
            continue;
        }
        EXPECT_EQ(text.value_or("(none)"), it->second) << name;
    }
    for (const auto& [name, text] : expected)
        if (!actual.count(name)) ADD_FAILURE() << name << " in " << file << " is never checked";
}

}  // namespace wm::test

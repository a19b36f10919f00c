#pragma once
// Expected texts kept in tests/data/policy/<file>: one "name<TAB>text" per line, "#" starts
// a comment, "(none)" stands for an absent text. Every name in the file must be checked
// and every checked name must be in the file.
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace wm::test {

inline void expectTexts(const std::string& file, std::map<std::string, std::optional<std::string>> actual) {
    std::ifstream in(std::string(WM_POLICY_TEST_DATA) + "/" + file);
    ASSERT_TRUE(in) << file;
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
        const auto it = actual.find(line.substr(0, tab));
        if (it == actual.end()) { ADD_FAILURE() << line.substr(0, tab) << " is never checked"; continue; }
        EXPECT_EQ(it->second.value_or("(none)"), line.substr(tab + 1)) << it->first;
        actual.erase(it);
    }
    for (const auto& entry : actual) ADD_FAILURE() << file << " has no line for " << entry.first;
}

}  // namespace wm::test

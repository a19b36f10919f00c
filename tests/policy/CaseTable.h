#pragma once
// Test cases kept in tests/data/policy/<file>: one case a line, fields separated by tabs,
// "#" starts a comment line. Each test reads its table and checks every row in one loop.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace wm::test {

inline std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    for (std::size_t at = 0, end; at <= text.size(); at = end + 1)
        fields.push_back(text.substr(at, (end = std::min(text.find(separator, at), text.size())) - at));
    return fields;
}

inline std::vector<std::vector<std::string>> caseTable(const std::string& file, std::size_t fieldCount) {
    std::ifstream in(std::string(WM_POLICY_TEST_DATA) + "/" + file);
    EXPECT_TRUE(in) << file;
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        rows.push_back(split(line, '\t'));
        EXPECT_EQ(rows.back().size(), fieldCount) << file << ": " << line;
        rows.back().resize(fieldCount);
    }
    EXPECT_FALSE(rows.empty()) << file;
    return rows;
}

}  // namespace wm::test

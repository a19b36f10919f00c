#pragma once
// Rows of an expectation table kept under tests/data/<folder>/<name>.tsv: one row a line,
// fields split at tabs, "#" starts a comment line, blank lines are skipped. A row of another
// width fails the test and is left out.
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

// A file of tests/data, by its path below that folder.
inline std::string dataFile(const std::string& relative) { return std::string(WM_TEST_DATA) + "/" + relative; }

// The table at a path below tests/data.
inline std::vector<std::vector<std::string>> dataTable(const std::string& relative, std::size_t columns) {
    const std::string path = dataFile(relative);
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        auto fields = split(line, '\t');
        if (fields.size() != columns) {
            ADD_FAILURE() << path << ": " << line;
            continue;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

}  // namespace wm::test

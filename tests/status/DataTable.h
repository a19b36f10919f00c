#pragma once
// Rows of a "|"-separated expectation file under tests/data/status; "#" starts a comment
// line, blank lines are skipped. A row of another width fails the test and is left out.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace wm::testing {

inline std::vector<std::vector<std::string>> dataTable(const std::string& name, std::size_t columns) {
    std::ifstream in(std::string(WM_STATUS_DATA) + "/" + name);
    EXPECT_TRUE(in) << name;
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '|');) fields.push_back(field);
        if (!line.empty() && line.back() == '|') fields.emplace_back();
        if (fields.size() != columns) {
            ADD_FAILURE() << name << ": " << line;
            continue;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

}  // namespace wm::testing

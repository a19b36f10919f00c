#pragma once
// Test cases and expected texts kept in tests/data/policy/<file>, one a line with tab-separated
// fields (support/DataTable.h); "(none)" stands for an absent text.

#include "support/DataTable.h"

namespace wm::test {

inline std::vector<std::vector<std::string>> caseTable(const std::string& file, std::size_t columns) {
    auto rows = dataTable("policy/" + file, columns);
    EXPECT_FALSE(rows.empty()) << file;
    return rows;
}

// Every name in the file must be checked and every checked name must be in the file.
inline void expectTexts(const std::string& file, std::map<std::string, std::optional<std::string>> actual) {
    for (const auto& row : caseTable(file, 2)) {
        const auto it = actual.find(row[0]);
        if (it == actual.end()) return ADD_FAILURE() << row[0] << " is never checked";
        EXPECT_EQ(orNone(it->second), row[1]) << row[0];
        actual.erase(it);
    }
    for (const auto& entry : actual) ADD_FAILURE() << file << " has no line for " << entry.first;
}

}  // namespace wm::test

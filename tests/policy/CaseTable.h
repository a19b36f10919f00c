#pragma once
// Test cases kept in tests/data/policy/<file>, one a line with tab-separated fields
// (support/DataTable.h). Each test reads its table and checks every row in one loop.
#include "support/DataTable.h"

namespace wm::test {

inline std::vector<std::vector<std::string>> caseTable(const std::string& file, std::size_t columns) {
    auto rows = dataTable(std::string(WM_POLICY_TEST_DATA) + "/" + file, columns, '\t');
    EXPECT_FALSE(rows.empty()) << file;
    return rows;
}

}  // namespace wm::test

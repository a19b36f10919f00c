#pragma once
// Rows of a "|"-separated expectation file under tests/data/status (support/DataTable.h).
#include "support/DataTable.h"

namespace wm::testing {

inline std::vector<std::vector<std::string>> dataTable(const std::string& name, std::size_t columns) {
    return test::dataTable(std::string(WM_STATUS_DATA) + "/" + name, columns, '|');
}

}  // namespace wm::testing

#pragma once
// Test cases and expected texts kept in tests/data/policy/<file>, one a line with tab-separated
// fields (support/DataTable.h); "(none)" stands for an absent text.
#include <functional>
#include <map>
#include <optional>

#include "support/DataTable.h"

namespace wm::test {

inline std::vector<std::vector<std::string>> caseTable(const std::string& file, std::size_t columns) {
    auto rows = dataTable("policy/" + file, columns);
    EXPECT_FALSE(rows.empty()) << file;
    return rows;
}

inline void forEachLine(const std::string& file,
                        const std::function<void(const std::string&, const std::string&)>& check) {
    for (const auto& row : caseTable(file, 2)) check(row[0], row[1]);
}

// Every name in the file must be checked and every checked name must be in the file.
inline void expectTexts(const std::string& file, std::map<std::string, std::optional<std::string>> actual) {
    forEachLine(file, [&](const std::string& name, const std::string& text) {
        const auto it = actual.find(name);
        if (it == actual.end()) return ADD_FAILURE() << name << " is never checked";
        EXPECT_EQ(it->second.value_or("(none)"), text) << name;
        actual.erase(it);
    });
    for (const auto& entry : actual) ADD_FAILURE() << file << " has no line for " << entry.first;
}

}  // namespace wm::test

#pragma once
// Test cases and expected texts kept in tests/data/policy/<file>, one a line with tab-separated
// fields (support/DataTable.h); "(none)" stands for an absent text, "yes" and "no" for a verdict,
// and "\n", "\t" and "\xHH" in an input for those bytes.
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "support/DataTable.h"

namespace wm::test {

inline std::vector<std::vector<std::string>> caseTable(const std::string& file, std::size_t columns) {
    auto rows = dataTable("policy/" + file, columns);
    EXPECT_FALSE(rows.empty()) << file;
    return rows;
}

inline std::string unescaped(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i] == '\\' && i + 1 < s.size() ? s[++i] : '\0';
        if (c == 'x')
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c ? c : s[i];
    }
    return out;
}

inline std::string orNone(const std::optional<std::string>& text) { return text.value_or("(none)"); }
inline std::string yesNo(bool verdict) { return verdict ? "yes" : "no"; }

// Rows "<question>\t<input>\t<answer>": each input is answered by the function its question
// names, and each function answers at least one row.
using Answers = std::map<std::string, std::function<std::string(const std::string& input)>>;
inline void expectAnswers(const std::string& file, const Answers& answers) {
    std::set<std::string> asked;
    for (const auto& row : caseTable(file, 3)) {
        const auto it = answers.find(row[0]);
        if (it == answers.end()) return ADD_FAILURE() << file << ": no question " << row[0];
        EXPECT_EQ(it->second(unescaped(row[1])), unescaped(row[2])) << row[0] << " " << row[1];
        asked.insert(row[0]);
    }
    for (const auto& entry : answers) EXPECT_TRUE(asked.count(entry.first)) << file << " never asks " << entry.first;
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

#pragma once
// Rows of an expectation table kept under tests/data/<folder>/<name>.tsv: one row a line,
// fields split at tabs, "#" starts a comment line, blank lines are skipped. A row of another
// width fails the test and is left out.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
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

// The whole text of a file below tests/data.
inline std::string dataText(const std::string& relative) {
    std::ifstream in(dataFile(relative), std::ios::binary);
    EXPECT_TRUE(in) << relative;
    return {std::istreambuf_iterator<char>(in), {}};
}

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

// A field with "\n", "\t", "\r" and "\xHH" written out, as those bytes.
inline std::string unescaped(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i] == '\\' && i + 1 < s.size() ? s[++i] : '\0';
        if (c == 'x')
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c ? c : s[i];
    }
    return out;
}

// How answers are written in a table: "(none)" for no text, "yes" and "no" for a verdict.
inline std::string orNone(const std::optional<std::string>& text) { return text.value_or("(none)"); }
inline std::string yesNo(bool verdict) { return verdict ? "yes" : "no"; }

// The rows "<question>\t<input>\t<answer>" of a table below tests/data, both fields unescaped:
// each input is answered by the function its question names, and each function answers at
// least one row.
using Answers = std::map<std::string, std::function<std::string(const std::string& input)>>;
inline void expectAnswers(const std::string& relative, const Answers& answers) {
    std::set<std::string> asked;
    for (const auto& row : dataTable(relative, 3)) {
        const auto it = answers.find(row[0]);
        if (it == answers.end()) {
            ADD_FAILURE() << relative << ": no question " << row[0];
            continue;
        }
        EXPECT_EQ(it->second(unescaped(row[1])), unescaped(row[2])) << row[0] << " " << row[1];
        asked.insert(row[0]);
    }
    for (const auto& entry : answers)
        EXPECT_TRUE(asked.count(entry.first)) << relative << " never asks " << entry.first;
}

// The rows "<name>\t<text>" of a table below tests/data against the texts checked by name: every
// name in the table must be checked and every checked name must be in the table.
inline void expectTexts(const std::string& relative, std::map<std::string, std::optional<std::string>> actual) {
    for (const auto& row : dataTable(relative, 2)) {
        const auto it = actual.find(row[0]);
        if (it == actual.end()) {
            ADD_FAILURE() << relative << ": " << row[0] << " is never checked";
            continue;
        }
        EXPECT_EQ(orNone(it->second), row[1]) << row[0];
        actual.erase(it);
    }
    for (const auto& entry : actual) ADD_FAILURE() << relative << " has no line for " << entry.first;
}

}  // namespace wm::test

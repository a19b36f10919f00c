#pragma once
// Expected texts kept in tests/data/policy/<file>: one "name<TAB>text" per line, "#" starts
// a comment, "(none)" stands for an absent text.
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace wm::test {

inline void forEachLine(const std::string& file, const std::function<void(const std::string&, const std::string&)>& check) {
    std::ifstream in(std::string(WM_POLICY_TEST_DATA) + "/" + file);
    ASSERT_TRUE(in) << file;
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t');
        if (!line.starts_with('#') && tab != std::string::npos) check(line.substr(0, tab), line.substr(tab + 1));
    }
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

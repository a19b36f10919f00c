#pragma once
// A message catalogue compiled by gettext's own msgfmt from entries of (original, translation).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace wm::test {

inline void writeCatalogue(const std::filesystem::path& file, const std::map<std::string, std::string>& entries) {
    std::filesystem::create_directories(file.parent_path());
    const std::string po = file.string() + ".po";
    std::ofstream out(po);
    out << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    for (const auto& [key, value] : entries)
        out << "\n#, no-c-format\nmsgid \"" << key << "\"\nmsgstr \"" << value << "\"\n";
    out.close();
    ASSERT_EQ(std::system(("msgfmt -o '" + file.string() + "' '" + po + "'").c_str()), 0);
}

}  // namespace wm::test

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "restore/RestoreSelection.h"

namespace wm {
namespace {

using Path = RestoreSelection::Path;
using T = RestoreSelection::Ticked;

// A path is wanted when ticked yes, and included (walked) unless ticked no.
void check(const RestoreSelection& s, const std::vector<std::pair<Path, T>>& rows) {
    for (const auto& [path, tick] : rows) {
        SCOPED_TRACE(testing::Message() << path.size() << (path.empty() ? "" : path.back()));
        EXPECT_EQ(s.tick(path), tick);
        EXPECT_EQ(s.wants(path), tick == T::yes);
        EXPECT_EQ(s.includes(path), tick != T::no);
    }
}

TEST(RestoreSelection, WhatIsIncludedWantedAndTicked) {
    RestoreSelection s;
    check(s, {{{}, T::yes}, {{"a", "b", "c"}, T::yes}});
    EXPECT_EQ(s.sentence(), "Everything in this backup");
    s.add({"Documents", "Taxes"});
    EXPECT_EQ(s.sentence(), "Taxes");
    check(s, {{{}, T::partly},
              {{"Documents"}, T::partly},
              {{"Documents", "Taxes"}, T::yes},
              {{"Documents", "Taxes", "2023"}, T::yes},
              {{"Documents", "Taxes2"}, T::no},
              {{"Pictures"}, T::no}});
    s.add({});  // choosing the root
    EXPECT_EQ(s.paths, (std::vector<Path>{{}}));
    check(s, {{{}, T::yes}, {{"x", "y"}, T::yes}});
    EXPECT_EQ(s.sentence(), "One item");
}

TEST(RestoreSelection, AddAndRemoveKeepNoPathInsideAnother) {
    RestoreSelection s;
    for (const Path& p : std::vector<Path>{{"Documents", "Taxes"}, {"Pictures"}, {"Documents"}, {"Documents", "Taxes"}})
        s.add(p);
    EXPECT_EQ(s.paths, (std::vector<Path>{{"Pictures"}, {"Documents"}}));
    s.remove({"Documents", "Taxes"});
    EXPECT_EQ(s.paths.size(), 2u);
    s.remove({"Documents"});
    EXPECT_EQ(s.paths, (std::vector<Path>{{"Pictures"}}));
    s.paths = {{"Documents", "Taxes"}, {"Documents"}};  // as a chooser might have built it
    s.remove({"Documents"});
    EXPECT_EQ(s.paths, (std::vector<Path>{{"Documents", "Taxes"}}));
    for (int i = 0; i < 1234; ++i) s.add({"f" + std::to_string(i)});
    EXPECT_EQ(s.sentence(), "1,235 items");
}

TEST(RestoreSelection, NamesCompareByCanonicalEquivalence) {
    RestoreSelection s;
    s.add({"Caf\xc3\xa9"});
    EXPECT_TRUE(s.wants(Path{"Cafe\xcc\x81", "menu.txt"}));
    EXPECT_FALSE(s.wants(Path{"Cafe"}));
}

}  // namespace
}  // namespace wm

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "restore/RestoreSafety.h"
#include "support/ScopedEnvironment.h"

namespace wm {
namespace {

using R = RestoreSafety::Refusal;

TEST(RestoreSafety, FirstRefusalWins) {
    const std::vector<RestoreSafety::Source> sources = {
        {"Documents", "/Users/you/Documents"}, {"Nothing", ""}, {"Backups", "/Volumes/Drive"}};
    const std::tuple<const char*, bool, std::optional<R>> cases[] = {
        // destination, writable, refusal
        {"/Volumes/Drive/Backup/./x/../y", true, R::insideTheBackup()},
        {"/Volumes/Drive/Backup2", true, R::insideASourceFolder("Backups")},
        {"/Users/you/Documents-Restored", true, std::nullopt},
        {"/Users/you/Documents/Restored", true, R::insideASourceFolder("Documents")},
        {"/usr/local", true, R::systemLocation("/usr")},
        {"/usrdata", true, std::nullopt},
        {"/Users/you/../../usr/lib", true, R::systemLocation("/usr")},
        {"//usr//lib/", true, R::systemLocation("/usr")},
        {"/Users/you/Restored", false, R::notWritable()},
        {"/Users/you/Restored", true, std::nullopt},
    };
    for (const auto& [destination, writable, expected] : cases)
        EXPECT_EQ(RestoreSafety::check(destination, "/Volumes/Drive/Backup", sources, writable), expected)
            << destination;
    EXPECT_EQ(RestoreSafety::check("/Users/you/x", "", {}, true), std::nullopt);  // no repository path
}

TEST(RestoreSafety, Standardising) {
    const test::ScopedEnvironment home("HOME", "/home/me");
    EXPECT_EQ(RestoreSafety::standardizingPath("~/Documents/"), "/home/me/Documents");
    EXPECT_EQ(RestoreSafety::standardizingPath("rel/../x"), "rel/../x");
    EXPECT_EQ(RestoreSafety::standardizingPath("~nosuchuser-wm/x"), "~nosuchuser-wm/x");
}

}  // namespace
}  // namespace wm

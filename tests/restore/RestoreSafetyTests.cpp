#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "restore/RestoreSafety.h"

namespace wm {
namespace {

using R = RestoreSafety::Refusal;

TEST(RestoreSafety, FirstRefusalWins) {
    const std::vector<RestoreSafety::Source> sources = {{"Documents", "/Users/you/Documents"},
                                                        {"Nothing", ""},
                                                        {"Backups", "/Volumes/Drive"}};
    struct Case {
        const char* destination;
        bool writable;
        std::optional<R> expected;
    };
    const Case cases[] = {
        {"/Volumes/Drive/Backup", false, R::insideTheBackup()},
        {"/Volumes/Drive/Backup/sub", true, R::insideTheBackup()},
        {"/Volumes/Drive/Backup/./x/../y", true, R::insideTheBackup()},
        {"/Volumes/Drive/Backup2", true, R::insideASourceFolder("Backups")},
        {"/Users/you/Documents-Restored", true, std::nullopt},
        {"/Users/you/Documents/Restored", true, R::insideASourceFolder("Documents")},
        {"/usr/local", true, R::systemLocation("/usr")},
        {"/usrdata", true, std::nullopt},
        {"/USR/lib", true, std::nullopt},
        {"/etc/x", true, R::systemLocation("/etc")},
        {"/proc", true, R::systemLocation("/proc")},
        {"/System/Library", true, std::nullopt},
        {"/Users/you/../../usr/lib", true, R::systemLocation("/usr")},
        {"//usr//lib/", true, R::systemLocation("/usr")},
        {"/Users/you/Restored", false, R::notWritable()},
        {"/Users/you/Restored", true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination);
        EXPECT_EQ(RestoreSafety::check(c.destination, "/Volumes/Drive/Backup", sources, c.writable), c.expected);
    }
    // An empty repository path never matches.
    EXPECT_EQ(RestoreSafety::check("/Users/you/x", "", {}, true), std::nullopt);
}

TEST(RestoreSafety, Standardising) {
    ::setenv("HOME", "/home/me", 1);
    EXPECT_EQ(RestoreSafety::standardizingPath("~"), "/home/me");
    EXPECT_EQ(RestoreSafety::standardizingPath("~/Documents/"), "/home/me/Documents");
    EXPECT_EQ(RestoreSafety::standardizingPath("rel/../x"), "rel/../x");
    EXPECT_EQ(RestoreSafety::standardizingPath("~nosuchuser-wm/x"), "~nosuchuser-wm/x");
}

}  // namespace
}  // namespace wm

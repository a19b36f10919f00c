// The diagnostic report's lines and its path scrubbing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "status/DiagnosticReport.h"

namespace wm {
namespace {

const Date now = Date::fromSeconds(1'796'000'000);

TEST(DiagnosticReportTest, PathsAreTakenOut) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"could not write /Users/alice/Documents/report.pdf because", "could not write [a path] because"},
        {"either/or and /tmp stay", "either/or and /tmp stay"},
        {"//", "[a path]"},
        {"a  /x/y  b/", "a  [a path]  b/"},
        {"/home/alice/x\neither/or", "[a path]\neither/or"},
        {"/a/b\t/c d", "[a path] d"},
        {"/a/b\r\nline/two x", "[a path] x"},
        {"ends at /var/home/alice/file", "ends at [a path]"},
        {"/run/media/alice/Disk/a\n/root/.config/b", "[a path]\n[a path]"},
        {"~/Documents/x", "~[a path]"},
        {"file:///home/alice/x failed", "file:[a path] failed"},
        // A space in the name ends the run: what follows it is kept, up to the next path.
        {"/Users/Bob Smith/Documents/a", "[a path] Smith[a path]"},
        {"caf\xC3\xA9 /r\xC3\xA9sum\xC3\xA9/\xF0\x9F\x93\x84 ok", "caf\xC3\xA9 [a path] ok"},
    };
    for (const auto& c : cases) EXPECT_EQ(DiagnosticReport::withoutPaths(c.text), c.expected) << c.text;
}

TEST(DiagnosticReportTest, LinesInOrder) {
    int scrubbed = 0;
    const auto scrub = [&](const std::string& s) {
        ++scrubbed;
        EXPECT_EQ(s, "could not write [a path] because the disk is full");
        return s;
    };
    const auto full = DiagnosticReport::build(
        "2.4 (310)", "15.1", 2, 1234, 98765, {"drive", "cloud folder"}, "Every day", now.adding(-5 * 3600.0),
        std::string("could not write /Users/alice/Backups/pack-0001 because the disk is full"), 0,
        now.adding(-100 * 86'400.0), now, scrub);
    std::ifstream file(std::string(WM_STATUS_DATA) + "/diagnostic-report.txt");
    std::stringstream expected;
    expected << file.rdbuf();
    std::string text = expected.str();
    if (text.ends_with('\n')) text.pop_back();
    EXPECT_EQ(full.text(), text);
    EXPECT_EQ(full.text().find("alice"), std::string::npos);
    EXPECT_EQ(full.lines.size(), 11u);
    EXPECT_EQ(scrubbed, 1);

    const auto bare = DiagnosticReport::build("1", "2", 1, 0, 0, {}, "Only when I ask", {}, {}, 0, {}, now, scrub);
    EXPECT_EQ(scrubbed, 1);
    ASSERT_EQ(bare.lines.size(), 10u);
    EXPECT_EQ(bare.lines[5].value, "none");
    EXPECT_EQ(bare.lines[7].value, "never");
    EXPECT_EQ(bare.lines[9].value, "never");
    EXPECT_EQ(DiagnosticReport::build("1", "2", 1, 0, 0, {}, "", {}, std::string("x"), 0, {}, now,
                                      [](const std::string&) { return std::string("(withheld)"); })
                  .lines[8],
              (DiagnosticReport::Line{"Last failure", "(withheld)"}));
    EXPECT_EQ(DiagnosticReport::build("1", "2", 1, 0, 0, {}, "", {}, std::string("at /a/b"), 0, {}, now, {}).lines[8],
              (DiagnosticReport::Line{"Last failure", "at [a path]"}));
    EXPECT_EQ(DiagnosticReport().text(), "");
}

}  // namespace
}  // namespace wm

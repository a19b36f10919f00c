// The walk itself (order, links, hard links) is driven end to end by the test-backup tool's tests.
#include "fs/DirectoryScanner.h"

#include <gtest/gtest.h>

#include "fs/FsTestSupport.h"
#include "fs/MetadataCapture.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

const DirectoryScanner::Entry* find(const DirectoryScanner::Entry& root, const std::string& path) {
    if (root.path == path) return &root;
    for (const auto& child : root.children)
        if (const auto* found = find(child, path)) return found;
    return nullptr;
}

TEST(DirectoryScanner, TheTopMayBeALinkButNothingBelowIsFollowed) {
    test::TempFolder folder{"wm-scan"};
    folder.writeFile("real/f", "x");
    folder.writeFile("elsewhere/hidden", "not to be seen");
    ::symlink("real", (folder / "via").c_str());
    ::symlink("../elsewhere", (folder / "real/link").c_str());
    auto result = DirectoryScanner::scan((folder / "via").string());
    ASSERT_EQ(result.root.children.size(), 2u);
    EXPECT_TRUE(find(result.root, "link")->children.empty());
    EXPECT_THROW(DirectoryScanner::scan((folder / "missing").string()), MetadataCapture::Error);
    EXPECT_THROW(DirectoryScanner::scan((folder / "real/f").string()), MetadataCapture::Error);
}

TEST(DirectoryScanner, WhatCannotBeReadIsReportedAndTheWalkGoesOn) {
    test::TempFolder folder{"wm-scan"};
    folder.writeFile("tree/closed/inside", "i");
    folder.writeFile("tree/locked", "l");
    folder.writeFile("tree/open/fine", "f");
    for (const char* shut : {"tree/closed", "tree/locked"}) ::chmod((folder / shut).c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    const std::string top = (folder / "tree").string();
    test::expectUnprivileged([&](const auto&) {
        const auto result = DirectoryScanner::scan(top);
        const auto* closed = find(result.root, "closed");
        const auto* locked = find(result.root, "locked");
        return closed && closed->status == DirectoryScanner::Status::unreadable && closed->children.empty() &&
                       !closed->problems.empty() && locked && locked->status == DirectoryScanner::Status::unreadable &&
                       find(result.root, "open/fine") && result.problems.size() >= 2
                   ? 0
                   : 1;
    });
}

}  // namespace
}  // namespace wm

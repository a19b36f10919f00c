#include "fs/DirectoryScanner.h"

#include <gtest/gtest.h>

#include "fs/FsTestSupport.h"
#include "fs/MetadataCapture.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

const DirectoryScanner::Entry* find(const DirectoryScanner::Entry& root, const std::string& path) {
    if (root.path == path) return &root;
    for (const auto& child : root.children) {
        if (const auto* found = find(child, path)) return found;
    }
    return nullptr;
}

std::vector<std::string> paths(const DirectoryScanner::Entry& root) {
    std::vector<std::string> out;
    for (const auto& child : root.children) {
        out.push_back(child.path);
        for (auto& p : paths(child)) out.push_back(std::move(p));
    }
    return out;
}

class DirectoryScannerTest : public ::testing::Test {
protected:
    test::TempFolder folder{"wm-scan"};
};

TEST_F(DirectoryScannerTest, WalksTheTreeInNameOrderWithoutFollowingLinks) {
    folder.writeFile("tree/b.txt", "b");
    folder.writeFile("tree/a/deep/file", "deep");
    folder.writeFile("tree/c/x", "x");
    folder.writeFile("elsewhere/hidden", "not to be seen");
    ::symlink("../elsewhere", (folder / "tree/link").c_str());
    ::link((folder / "tree/b.txt").c_str(), (folder / "tree/a/b-again").c_str());
    auto result = DirectoryScanner::scan((folder / "tree").string());
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(result.root.metadata.fileType, FileMetadata::FileType::directory);
    EXPECT_EQ(paths(result.root), (std::vector<std::string>{"a", "a/b-again", "a/deep", "a/deep/file", "b.txt", "c",
                                                            "c/x", "link"}));
    const auto* link = find(result.root, "link");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->metadata.fileType, FileMetadata::FileType::symlink);
    EXPECT_TRUE(link->children.empty());
    EXPECT_EQ(link->metadata.symlinkTarget, bytesOf("../elsewhere"));
    // Hard links share an identity and count each other.
    EXPECT_EQ(find(result.root, "a/b-again")->metadata.identity, find(result.root, "b.txt")->metadata.identity);
    EXPECT_NE(find(result.root, "c/x")->metadata.identity, find(result.root, "b.txt")->metadata.identity);
    EXPECT_EQ(find(result.root, "b.txt")->metadata.linkCount, 2u);
    EXPECT_EQ(find(result.root, "a/deep/file")->name, "file");
    EXPECT_EQ(find(result.root, "a/deep/file")->metadata.size, 4u);
}

TEST_F(DirectoryScannerTest, TheTopFolderMayBeALink) {
    folder.writeFile("real/f", "x");
    ::symlink("real", (folder / "via").c_str());
    auto result = DirectoryScanner::scan((folder / "via").string());
    EXPECT_EQ(result.root.metadata.fileType, FileMetadata::FileType::directory);
    EXPECT_EQ(paths(result.root), std::vector<std::string>{"f"});
    EXPECT_THROW(DirectoryScanner::scan((folder / "missing").string()), MetadataCapture::Error);
    EXPECT_THROW(DirectoryScanner::scan((folder / "real/f").string()), MetadataCapture::Error);
}

TEST_F(DirectoryScannerTest, WhatCannotBeReadIsReportedAndTheWalkGoesOn) {
    folder.writeFile("tree/closed/inside", "i");
    folder.writeFile("tree/locked", "l");
    folder.writeFile("tree/open/fine", "f");
    ::chmod((folder / "tree/closed").c_str(), 0);
    ::chmod((folder / "tree/locked").c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    const std::string top = (folder / "tree").string();
    test::expectUnprivileged([&](const auto& report) {
        auto result = DirectoryScanner::scan(top);
        int failures = 0;
        auto check = [&](bool ok, const std::string& what) {
            if (!ok) {
                report(what);
                ++failures;
            }
        };
        const auto* closed = find(result.root, "closed");
        const auto* locked = find(result.root, "locked");
        check(closed && closed->status == DirectoryScanner::Status::unreadable, "closed folder not unreadable");
        check(closed && closed->children.empty() && !closed->problems.empty(), "closed folder content or reason");
        check(locked && locked->status == DirectoryScanner::Status::unreadable, "locked file not unreadable");
        check(find(result.root, "open/fine") != nullptr, "walk stopped");
        check(result.problems.size() >= 2, "problems not listed");
        return failures;
    });
}

}  // namespace
}  // namespace wm

#pragma once
// Helpers for the restore tests: a scratch folder with a restore target and an
// "outside" folder beside it, a listing of a tree that records everything a restore
// must never change (read without following any symbolic link), and a fixture that
// restores a FakeBackup into the target.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "restore/FakeBackup.h"
#include "restore/PathSafetyViolation.h"
#include "restore/RestoreCoordinator.h"

namespace wm::test {

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& path() const { return root_; }
    std::filesystem::path target() const { return root_ / "target"; }
    std::filesystem::path outside() const { return root_ / "outside"; }

    // Writes a file, creating its parent folders.
    static void writeFile(const std::filesystem::path& file, std::string_view contents);
    static std::string readFile(const std::filesystem::path& file);

private:
    std::filesystem::path root_;
};

// Relative path -> description of the entry (type, mode, owner, size, times, inode,
// content hash, link target). `skip` names a subfolder (relative) left out.
using TreeListing = std::map<std::string, std::string>;
TreeListing listTree(const std::filesystem::path& folder, const std::string& skip = "");

// Type, permission bits, size (files) and link target (links) of one entry, or "" when missing.
std::string describe(const std::filesystem::path& entry);

int openDescriptors();
std::time_t mtimeOf(const std::filesystem::path& entry);  // lstat, so of a link itself

inline const std::string unsafeName = "that name is not safe to write to disk";
inline const std::string wentWrong = "Something went wrong: ";
inline std::string failed(const PathSafetyViolation& v) { return wentWrong + v.what(); }

using Result = RestoreCoordinator::Result;
std::vector<std::string> failurePaths(const Result& r);
std::vector<std::string> failureReasons(const Result& r);

class RestoreFixture : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;
    Result restore(const RestoreSelection& selection = {}) {
        return RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), selection);
    }
};

}  // namespace wm::test

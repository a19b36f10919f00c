#pragma once
// Helpers for the restore tests: a scratch folder with a restore target and an
// "outside" folder beside it, and a listing of a tree that records everything a
// restore must never change (type, permissions, owner, size, times, content, link
// targets), read without following any symbolic link.
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "core/Bytes.h"

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

// Relative path -> description of the entry. Folders list their own metadata and,
// through their children, their contents. `skip` names a subfolder (relative) left out.
using TreeListing = std::map<std::string, std::string>;
TreeListing listTree(const std::filesystem::path& folder, const std::string& skip = "");

// Type, permission bits, size (files) and link target (links) of one entry, or "" when missing.
std::string describe(const std::filesystem::path& entry);

}  // namespace wm::test

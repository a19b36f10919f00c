#pragma once
// What changed between two backups: the files removed, changed and added, with their sizes,
// in the file browser's order, and a one-sentence summary. Each backup is given as a map
// from path to a text standing for the file's content (equal texts, unchanged file).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace wm::SnapshotComparison {

struct Change {
    enum class Kind { added, modified, removed };

    std::vector<std::string> path;  // components, never empty ones
    Kind kind = Kind::added;
    std::uint64_t size = 0;  // from the caller's sizes, 0 when it has none

    std::string name() const { return path.empty() ? std::string() : path.back(); }
    // The components joined by "/", then the kind's name: "docs/a.txtmodified".
    std::string id() const;
    friend bool operator==(const Change&, const Change&) = default;
};

// Removed first, then modified, then added; inside each, by name in the file browser's order.
// Paths and contents that are canonically equivalent texts count as equal.
std::vector<Change> changes(const std::map<std::string, std::string>& from,
                            const std::map<std::string, std::string>& to,
                            const std::map<std::string, std::uint64_t>& sizes);

// "2 files removed, 1 file changed and 3 files added."
std::string summary(const std::vector<Change>& changes);

}  // namespace wm::SnapshotComparison

#pragma once
// Finding deleted files by name across the snapshots of a repository: the name rule the
// snapshot browser's search applies to every entry, and the step that combines the hits of
// several snapshots into one list (each path once, the snapshots holding it, whether the
// newest snapshot still does). Pure functions; any thread may call them.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Identifiers.h"

namespace wm {

// One hit of a search in one snapshot: the names from the root down to the entry, and its size.
struct SearchHit {
    std::vector<std::string> path;
    std::uint64_t size = 0;
    friend bool operator==(const SearchHit&, const SearchHit&) = default;
};

struct DeletedFileSearch {
    // The hits of one snapshot, as SnapshotBrowser::search returns them.
    struct Finding {
        SnapshotID snapshot;
        std::vector<SearchHit> paths;
    };

    struct Match {
        std::vector<std::string> path;
        std::uint64_t size = 0;             // as the last finding holding the path reported it
        std::vector<SnapshotID> presentIn;  // in the order of the findings
        bool isGone = false;                // the newest snapshot (last finding) does not hold it

        std::string id() const;    // path joined with "/"
        std::string name() const;  // the last name, "" for an empty path
        std::optional<SnapshotID> lastSeenIn() const;

        // Path names compare under Unicode canonical equivalence.
        friend bool operator==(const Match& a, const Match& b);
    };

    // Whether query occurs in name, ignoring letter case and diacritical marks. An empty query
    // matches nothing. No trimming, no wildcards: the query is one substring.
    static bool matches(const std::string& name, const std::string& query);

    // Findings oldest snapshot first. One match per distinct path (canonically equal paths are
    // one), gone ones first, then by name in the file browser's order; ties by path, so the
    // order is always the same.
    static std::vector<Match> collate(const std::vector<Finding>& findings);
};

// Joins names with "/".
std::string joinedPath(const std::vector<std::string>& path);

}  // namespace wm

#pragma once
// The highest head counter the tools of this user have seen for each repository, so that a
// repository put back to an older state (its head replaced by an older one, which opens and
// verifies like any other) is noticed. One small file in the user's state folder keeps them
// all, one line per repository and folder:
//   $XDG_STATE_HOME/wendlemarsh/head-counters.json, else <home>/.local/state/wendlemarsh/...
// holding {"<repository ID as hex> <folder>": <counter>, ...}. Copies of a repository share
// its ID and each moves on by itself (a backup may go into a copy), so each folder is
// remembered on its own. Lines keyed by the ID alone, written before folders were told
// apart, cannot say which copy they came from: they are kept but no longer compared.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/Identifiers.h"
#include "format/HeadRecord.h"
#include "storage/Destination.h"

namespace wm::tools {

class RememberedCounters {
public:
    // The file in the user's state folder: below XDG_STATE_HOME when it is absolute, else
    // below the home folder (HOME when it is absolute, else the one the password database
    // gives this user); nothing when none is known.
    static std::optional<std::filesystem::path> defaultFile();

    // The file in the user's state folder. Without one, throws ToolRefusal: a tool does
    // not run unprotected.
    RememberedCounters();
    explicit RememberedCounters(std::filesystem::path file);

    // The counter remembered for the repository in that folder; nothing when none. A file
    // that cannot be read or decoded throws ToolRefusal saying how to start afresh.
    std::optional<std::uint64_t> counter(const RepositoryID& repository, const std::filesystem::path& folder) const;
    // The same, the repository's ID read from the config in the destination (with its size
    // cap; its errors pass through).
    std::optional<std::uint64_t> counter(Destination& repository, const std::filesystem::path& folder) const;
    // Keeps the counter when it is above the one remembered, and writes the file in any
    // case: a tool calls it before it changes anything, so that a state folder that cannot
    // be written stops it then. Read, compared and replaced under a lock of the state
    // folder, so that tools finishing at once lose no counter. Failures throw ToolRefusal.
    void remember(const RepositoryID& repository, const std::filesystem::path& folder, std::uint64_t counter) const;

    // Throws ToolRefusal, with the tool's sentence, when the verdict of opening the
    // repository at `path` says its head is older than the one remembered.
    void refuseRollback(const HeadVerdict& verdict, const std::string& path) const;

private:
    std::filesystem::path file_;
};

}  // namespace wm::tools

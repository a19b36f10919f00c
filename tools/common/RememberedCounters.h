#pragma once
// The highest head counter the tools of this user have seen for each repository, so that a
// repository put back to an older state (its head replaced by an older one, which opens and
// verifies like any other) is noticed. One small file in the user's state folder keeps them
// all, keyed by the repository's identity:
//   $XDG_STATE_HOME/wendlemarsh/head-counters.json, else ~/.local/state/wendlemarsh/...
// holding {"<repository ID as hex>": <counter>, ...}.
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
    // The file in the user's state folder; nothing when neither XDG_STATE_HOME (absolute)
    // nor HOME is set, and then nothing is remembered.
    static std::optional<std::filesystem::path> defaultFile();

    explicit RememberedCounters(std::optional<std::filesystem::path> file = defaultFile());

    // The counter remembered for a repository; nothing when none. A file that cannot be
    // read or decoded throws ToolRefusal saying how to start afresh.
    std::optional<std::uint64_t> counter(const RepositoryID& repository) const;
    // The same for the repository whose config lies in the folder (read with its size cap;
    // its errors pass through).
    std::optional<std::uint64_t> counter(Destination& repositoryFolder) const;
    // Keeps the counter when it is above the one remembered. Read, compared and replaced
    // under a lock of the state folder, so that tools finishing at once lose no counter.
    // Failures throw ToolRefusal.
    void remember(const RepositoryID& repository, std::uint64_t counter) const;

    // Throws ToolRefusal, with the tool's sentence, when the verdict of opening the
    // repository at `path` says its head is older than the one remembered.
    void refuseRollback(const HeadVerdict& verdict, const std::string& path) const;

private:
    std::optional<std::filesystem::path> file_;
};

}  // namespace wm::tools

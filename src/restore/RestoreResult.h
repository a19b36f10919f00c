#pragma once
// What one restore hands back: how much was put back, what was passed over by rule,
// what failed, and what came back without some of its metadata.
#include <cstdint>
#include <string>
#include <vector>

namespace wm {

struct RestoreResult {
    struct Skipped {
        std::string path;  // the entry's display text
        std::string reason;
    };
    struct Failure {
        std::string path;
        std::string reason;
    };
    struct Unpreserved {
        std::string path;
        // "metadata" when the metadata could not be applied at all, "content" when the
        // file changed while it was backed up (what came back is what the backup holds),
        // otherwise one of "ownership", "extendedAttributes", "acl", "modificationTime",
        // "creationTime", "bsdFlags", "mode".
        std::string attribute;
        std::string reason;
    };

    std::uint64_t filesRestored = 0;
    std::uint64_t directoriesRestored = 0;
    std::uint64_t symlinksRestored = 0;
    std::uint64_t hardLinksRestored = 0;
    std::vector<Skipped> skipped;
    std::vector<Failure> failures;
    std::vector<Unpreserved> unpreserved;

    // Nothing failed; skipped and unpreserved entries do not count against it.
    bool isComplete() const { return failures.empty(); }
};

}  // namespace wm

#pragma once
// The state of one restore walk, handed down the recursion. Internal to the restore
// module.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "restore/RestoreBlobSource.h"
#include "restore/RestoreCoordinator.h"
#include "restore/RestoreRoot.h"
#include "restore/RestoreSelection.h"
#include "restore/SafeName.h"

namespace wm {

struct RestoreCoordinator::Walk {
    RestoreRoot& root;
    RestoreBlobSource& source;
    const RestoreSelection& selection;
    Result result;
    // Per hard-link group, the path of the member first restored as a regular file.
    std::unordered_map<std::uint64_t, std::vector<SafeName>> hardLinkAnchors;
    // The path of the entry being handled, from the target folder down, and the same
    // names decoded as UTF-8 with repair (what the selection is asked about).
    std::vector<SafeName> path;
    std::vector<std::string> stringPath;
    // The tree objects on the current path, top first: a child tree among them is a cycle.
    std::vector<BlobID> ancestors;
    // Reused for every tree object and every content blob.
    Bytes treeBuffer;
    Bytes contentBuffer;
};

// The sentence for an error recorded in a result.
std::string restoreErrorSentence(const std::exception& error);

}  // namespace wm

#pragma once
// The state of one restore walk, handed down the recursion. Internal to the restore
// module.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "format/TreeWalk.h"
#include "restore/RestoreBlobSource.h"
#include "restore/RestoreCoordinator.h"
#include "restore/RestoreRoot.h"
#include "restore/RestoreSelection.h"
#include "restore/SafeName.h"

namespace wm {

// What the walk does with each entry of the snapshot's trees, through the shared tree walker.
struct RestoreCoordinator::Walk : TreeWalk::Visitor {
    Walk(RestoreCoordinator& coordinator, RestoreRoot& root, RestoreBlobSource& source,
         const RestoreSelection& selection)
        : coordinator(coordinator), root(root), source(source), selection(selection) {}

    // The top tree's read and decode errors end the restore; a folder's own tree that
    // cannot be read is a Failure of that folder.
    std::optional<TreeWalk::Entries> read(const BlobID& tree) override;
    // Restores one entry; a folder is created here and entered.
    TreeWalk::Step visit(const TreeObject::Entry& entry, const TreeWalk& walk) override;
    // A folder's own metadata, after its contents, so restoring them does not undo its times.
    void leave(const TreeObject::Entry& entry, const TreeWalk& walk) override;

    RestoreCoordinator& coordinator;
    RestoreRoot& root;
    RestoreBlobSource& source;
    const RestoreSelection& selection;
    Result result;
    // Per hard-link group, the path of the member first restored as a regular file.
    std::unordered_map<std::uint64_t, std::vector<SafeName>> hardLinkAnchors;
    // The path of the entry being handled, from the target folder down, and the same
    // names' stored bytes (what the selection is asked about).
    std::vector<SafeName> path;
    std::vector<std::string> stringPath;
    // The folders entered, innermost last: open, with their display text, and whether
    // their own tree could not be read.
    struct EnteredFolder {
        RestoreRoot::Folder opened;
        std::string display;
        bool unreadable = false;
    };
    std::vector<EnteredFolder> folders;
    // Reused for every tree object and every content blob.
    Bytes treeBuffer;
    Bytes contentBuffer;
};

// The sentence for an error recorded in a result.
std::string restoreErrorSentence(const std::exception& error);

}  // namespace wm

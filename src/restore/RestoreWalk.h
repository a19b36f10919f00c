#pragma once
// The state of one restore walk, handed down the recursion. Internal to the restore
// module.
#include <cstdint>
#include <memory>
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
    // record: what the snapshot's record counts.
    Walk(RestoreCoordinator& coordinator, RestoreRoot& root, RestoreBlobSource& source,
         const RestoreSelection& selection, const RestoreBlobSource::Record& record, std::uint64_t uncounted)
        : coordinator(coordinator),
          root(root),
          source(source),
          selection(selection),
          recordedDirectories(record.directories),
          enteredLimit(enteringLimit(record.directories)),
          meetingLimit(meetingLimitOf(record, uncounted)) {}

    // The most folders an honest backup makes a walk enter: each of its folders once, with
    // room to spare for a count that is a little off. A backup that names one tree in several
    // places makes the walk enter it again each time, so a few kilobytes can describe
    // millions of folders; past this many the walk stops.
    static std::uint64_t enteringLimit(std::uint64_t recordedDirectories);
    // The most entries and content-blob references an honest backup makes a walk meet, to
    // begin with: twice its files, its folders and its content's bytes in the repository's
    // smallest chunks (a file's last chunk may be shorter), and `uncounted` more for what the
    // record does not count (links, pipes, sockets, devices). The folder limit alone leaves
    // the work inside the folders unbounded: a folder of a million entries met at each of a
    // thousand places, or a file naming one blob a million times.
    static std::uint64_t meetingLimitOf(const RestoreBlobSource::Record& record, std::uint64_t uncounted);
    // The entries of a tree that a snapshot's record does not count: links, pipes, sockets
    // and devices. An honest backup meets them once for every folder that names the tree,
    // however many folders share it (a rotation of copies made with hard links stores one
    // tree for all of them), so each folder entered within the record's count of folders,
    // and the top tree, allows them once more (read()). Past that count, entering a folder
    // allows nothing: a record that counts its folders lets the walk meet at most its folders
    // times its widest tree.
    static std::uint64_t uncountedIn(const TreeWalk::Entries& entries);

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
    const std::uint64_t recordedDirectories;
    const std::uint64_t enteredLimit;
    std::uint64_t entered = 0;  // folders entered, every entering of a shared tree counted
    std::uint64_t meetingLimit;
    std::uint64_t met = 0;  // entries and content-blob references met, every meeting counted

    // Records why the walk stops here, apart from the records kept, and stops it.
    TreeWalk::Step stop(const std::string& display, std::string reason);
    // The text under which the entry is listed: the folder's text, "/" and the name decoded,
    // at most Unicode::shownTextBytes and "…"; cut tells whether it was cut.
    std::string displayOf(const TreeObject::Entry& entry, bool& cut) const;

    // One folder of the path, shared by the folders and anchors below it, so that what the
    // walk keeps of a path is its own name and where it lies, never a copy of the path above.
    struct PathNode {
        std::shared_ptr<const PathNode> parent;  // none for a folder of the top tree
        SafeName name;
    };
    // The path of the member of a hard-link group first restored as a regular file.
    struct Anchor {
        std::shared_ptr<const PathNode> folder;  // none for a file of the top tree
        SafeName name;
        std::vector<SafeName> path() const;
    };
    std::unordered_map<std::uint64_t, Anchor> hardLinkAnchors;
    // The path of the entry being handled, from the target folder down, and the same
    // names' stored bytes (what the selection is asked about).
    std::vector<SafeName> path;
    std::vector<std::string> stringPath;
    // The folders entered, innermost last: open, with their display text and whether it was
    // cut, and whether their own tree could not be read.
    struct EnteredFolder {
        RestoreRoot::Folder opened;
        std::string display;
        bool displayCut = false;
        std::shared_ptr<const PathNode> node;
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

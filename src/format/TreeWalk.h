#pragma once
// Walks the tree objects below a root: depth first, pre-order, entries in stored order. An
// explicit stack keeps a deep tree off the call stack. Every reader of a snapshot's trees
// goes through it; what is done with an entry, and whether its child tree is entered, is
// the visitor's.
#include <optional>
#include <string>
#include <vector>

#include "core/Identifiers.h"
#include "format/TreeObject.h"

namespace wm {

class TreeWalk {
public:
    using Entries = std::vector<TreeObject::Entry>;
    enum class Step { next, descend, stop };

    class Visitor {
    public:
        virtual ~Visitor() = default;
        // The entries of a tree about to be entered (the root first). Nothing passes the tree
        // over, when the visitor has noted why itself; an error propagates and ends the walk.
        virtual std::optional<Entries> read(const BlobID& tree) = 0;
        // Every entry of an entered tree. `descend` enters the entry's child tree before the
        // next entry; `stop` ends the walk at once.
        virtual Step visit(const TreeObject::Entry& entry, const TreeWalk& walk) = 0;
        // After an entry that visit() answered with `descend`: once its child tree has been
        // walked, or straight away when it has none, cannot be read, or is already on the
        // path from the root (entering it would go round in a circle).
        virtual void leave(const TreeObject::Entry& /*entry*/, const TreeWalk& /*walk*/) {}
        // After the last entry of a tree that read() supplied.
        virtual void treeDone(const BlobID& /*tree*/) {}
    };

    // Walks from root until every entered tree is done or the visitor stops.
    static void run(const BlobID& root, Visitor& visitor);

    // The names of the folders from the root down to the tree of the entry being visited,
    // as UTF-8 (each ill-formed sequence as U+FFFD).
    const std::vector<std::string>& folder() const { return folder_; }
    // The folder path with one more name, the usual path of the entry being visited.
    std::vector<std::string> pathTo(const TreeObject::Entry& entry) const;
    // Whether the tree is one of those from the root to the entry being visited.
    bool isOnPath(const BlobID& tree) const;

private:
    struct Frame {
        BlobID tree;
        Entries entries;
        std::size_t next = 0;
    };
    TreeWalk() = default;
    bool enter(const BlobID& tree, Visitor& visitor);

    std::vector<Frame> stack_;
    std::vector<std::string> folder_;  // one name fewer than the stack has frames
};

}  // namespace wm

#pragma once
// A walk that folds what every tree below a root holds into one result per tree, and remembers
// it. A tree is read and walked at most once, however many folders and roots name it, whether
// or not all below it could be read; a tree that cannot be read gets a result of its own and is
// not read again. Each result, once known, stands in for the tree wherever it is named next.
// What is remembered lasts as long as the fold: one fold serves the walks of one call.
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/Identifiers.h"
#include "format/TreeObject.h"
#include "format/TreeWalk.h"

namespace wm {

template <class Result>
class TreeFold : private TreeWalk::Visitor {
public:
    // Walks the tree and every tree below it that has no result yet. An error thrown by
    // entries() ends the walk; what was finished before it is kept.
    void walk(const BlobID& root) {
        open_.clear();
        if (!resultOf(root)) TreeWalk::run(root, *this);
    }
    // The result of a tree walked or found unreadable, else nothing.
    const Result* resultOf(const BlobID& tree) const {
        const auto it = results_.find(tree);
        return it == results_.end() ? nullptr : &it->second;
    }

protected:
    TreeFold() = default;
    ~TreeFold() override = default;
    TreeFold(const TreeFold&) = delete;
    TreeFold& operator=(const TreeFold&) = delete;

    // The entries of a tree, or nothing when it cannot be read.
    virtual std::optional<TreeWalk::Entries> entries(const BlobID& tree) = 0;
    // The result of a tree entries() could not supply.
    virtual Result unreadable(const BlobID& tree) = 0;
    // Adds one entry to the result of its tree (which starts as Result{}), entries in stored
    // order. `child` is the result of the entry's child tree; nothing when it has none or the
    // child is a tree the walk is inside of (naming it again would go round in a circle).
    virtual void fold(Result& result, const TreeObject::Entry& entry, const Result* child) = 0;

private:
    std::optional<TreeWalk::Entries> read(const BlobID& tree) final {
        std::optional<TreeWalk::Entries> found = entries(tree);
        if (!found) {
            results_.insert_or_assign(tree, unreadable(tree));
            return std::nullopt;
        }
        open_.emplace_back();
        return found;
    }
    TreeWalk::Step visit(const TreeObject::Entry& entry, const TreeWalk& walk) final {
        if (entry.childTree && !resultOf(*entry.childTree) && !walk.isOnPath(*entry.childTree))
            return TreeWalk::Step::descend;
        fold(open_.back(), entry, childResult(entry));
        return TreeWalk::Step::next;
    }
    // The child tree has its result by now, unless it was on the path.
    void leave(const TreeObject::Entry& entry, const TreeWalk&) final { fold(open_.back(), entry, childResult(entry)); }
    void treeDone(const BlobID& tree) final {
        Result done = std::move(open_.back());
        open_.pop_back();
        results_.insert_or_assign(tree, std::move(done));
    }
    const Result* childResult(const TreeObject::Entry& entry) const {
        return entry.childTree ? resultOf(*entry.childTree) : nullptr;
    }

    std::unordered_map<BlobID, Result> results_;  // node-based: a result stays where it is
    std::vector<Result> open_;                    // of the trees being walked, innermost last
};

}  // namespace wm

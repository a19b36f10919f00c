#include "format/TreeWalk.h"

#include <algorithm>

#include "core/Unicode.h"

namespace wm {

bool TreeWalk::enter(const BlobID& tree, Visitor& visitor) {
    std::optional<Entries> entries = visitor.read(tree);
    if (!entries) return false;
    stack_.push_back(Frame{tree, std::move(*entries), 0});
    return true;
}

void TreeWalk::run(const BlobID& root, Visitor& visitor) {
    TreeWalk walk;
    if (!walk.enter(root, visitor)) return;
    auto& stack = walk.stack_;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.entries.size()) {
            const BlobID tree = frame.tree;
            stack.pop_back();
            visitor.treeDone(tree);
            if (stack.empty()) break;
            // The parent's entry that led here is left now.
            walk.folder_.pop_back();
            const TreeObject::Entry& entry = stack.back().entries[stack.back().next++];
            visitor.leave(entry, walk);
            continue;
        }
        const TreeObject::Entry& entry = frame.entries[frame.next];
        const Step step = visitor.visit(entry, walk);
        if (step == Step::stop) return;
        if (step == Step::descend && entry.childTree && !walk.isOnPath(*entry.childTree)) {
            walk.folder_.push_back(Unicode::decodeUTF8Repairing(entry.name));
            // Entries live in the frame's own heap block, so `entry` stays valid while the
            // stack grows.
            if (walk.enter(*entry.childTree, visitor)) continue;
            walk.folder_.pop_back();
        }
        ++frame.next;
        if (step == Step::descend) visitor.leave(entry, walk);
    }
}

std::vector<std::string> TreeWalk::pathTo(const TreeObject::Entry& entry) const {
    std::vector<std::string> path;
    path.reserve(folder_.size() + 1);
    path = folder_;
    path.push_back(Unicode::decodeUTF8Repairing(entry.name));
    return path;
}

bool TreeWalk::isOnPath(const BlobID& tree) const {
    return std::any_of(stack_.begin(), stack_.end(), [&](const Frame& f) { return f.tree == tree; });
}

}  // namespace wm

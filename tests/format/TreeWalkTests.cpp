#include <gtest/gtest.h>

#include <map>

#include "format/Fixtures.h"
#include "format/TreeWalk.h"

namespace wm {
namespace {

TreeObject::Entry entry(const std::string& name, std::optional<BlobID> child = std::nullopt) {
    TreeObject::Entry e;
    e.name = Bytes(name.begin(), name.end());
    e.entryType = child ? TreeObject::EntryType::directory : TreeObject::EntryType::file;
    e.childTree = child;
    return e;
}

// Trees held in a map; tree 9 cannot be read. Each call is written to a trace.
struct Tracing : TreeWalk::Visitor {
    std::map<BlobID, TreeWalk::Entries> trees;
    std::string stopAt;
    std::string trace;
    std::optional<TreeWalk::Entries> read(const BlobID& id) override {
        trace += "read" + std::to_string(id.bytes[0]) + " ";
        if (id == test::blobFilled(9)) return std::nullopt;
        return trees.at(id);
    }
    TreeWalk::Step visit(const TreeObject::Entry& e, const TreeWalk& walk) override {
        std::string path;
        for (const auto& name : walk.pathTo(e)) path += "/" + name;
        trace += path + (walk.isOnPath(e.childTree.value_or(BlobID{})) ? "(circle) " : " ");
        if (path == stopAt) return TreeWalk::Step::stop;
        return e.childTree ? TreeWalk::Step::descend : TreeWalk::Step::next;
    }
    void leave(const TreeObject::Entry& e, const TreeWalk&) override {
        trace += "leave:" + std::string(e.name.begin(), e.name.end()) + " ";
    }
    void treeDone(const BlobID& id) override { trace += "done" + std::to_string(id.bytes[0]) + " "; }
};

TEST(TreeWalk, PreOrderWithLeavesAfterChildrenCirclesNotEnteredAndStop) {
    Tracing walk;
    walk.trees[test::blobFilled(1)] = {entry("a", test::blobFilled(2)), entry("f"), entry("bad", test::blobFilled(9))};
    walk.trees[test::blobFilled(2)] = {entry("g"), entry("loop", test::blobFilled(1))};
    TreeWalk::run(test::blobFilled(1), walk);
    EXPECT_EQ(walk.trace,
              "read1 /a read2 /a/g /a/loop(circle) leave:loop done2 leave:a /f /bad read9 leave:bad done1 ");

    walk.trace.clear();
    walk.stopAt = "/a/g";
    TreeWalk::run(test::blobFilled(1), walk);
    EXPECT_EQ(walk.trace, "read1 /a read2 /a/g ");
}

}  // namespace
}  // namespace wm

#pragma once
// Snapshots with a tree of folders and files, for the browser, search, verification and
// damage attribution tests: describe the tree, store its content and tree objects, commit.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "format/TreeObject.h"

namespace wm::test {

struct Node {
    TreeObject::Entry entry;       // name, type and metadata; content and child tree are filled in
    std::vector<Bytes> chunks;     // a file's content, one blob per chunk
    std::vector<Node> children;    // a folder's entries
    bool sizeFromChunks = true;    // a file's size is its chunks' total unless set otherwise

    static Node file(const std::string& name, std::vector<Bytes> chunks = {});
    static Node folder(const std::string& name, std::vector<Node> children = {});
    static Node symlink(const std::string& name, const std::string& target);
    // A file with raw name bytes (not necessarily UTF-8).
    static Node rawFile(Bytes name, std::vector<Bytes> chunks = {});
};

// Stores every chunk and tree object below the entries (bottom up) and returns the root tree.
BlobID storeTree(Repository& repository, const std::vector<Node>& entries);
// storeTree, then a commit of that root.
SnapshotID commitTree(Repository& repository, const std::vector<Node>& entries, Date now = fixedNow());
SnapshotID commitRoot(Repository& repository, const BlobID& root, Date now = fixedNow());

// The pack that holds a blob (the test fails when the index has none).
PackID packOf(const Repository& repository, const BlobID& blob);
// The content blobs of a file at a "/"-separated path, and the child tree of a folder.
std::vector<BlobID> contentOf(const Repository& repository, const BlobID& root, const std::string& path);
BlobID treeOf(const Repository& repository, const BlobID& root, const std::string& path);
BlobID rootOf(const Repository& repository, const SnapshotID& snapshot);

// Reads of pack files in a faulty destination's log (whole or ranged).
std::size_t packReads(const FaultyDestination& destination);

}  // namespace wm::test

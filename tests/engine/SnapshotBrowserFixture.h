#pragma once
// Snapshots built from a described tree of folders and files, and a repository fixture.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "format/TreeObject.h"
#include "support/EngineTestSupport.h"

namespace wm::test {

struct Node {
    TreeObject::Entry entry;     // content blobs and child tree are filled in when stored
    std::vector<Bytes> chunks;   // a file's content, one blob per chunk
    std::vector<Node> children;  // a folder's entries
    bool sizeFromChunks = true;

    static Node file(const std::string& name, std::vector<Bytes> chunks = {});
    static Node folder(const std::string& name, std::vector<Node> children = {});
    static Node symlink(const std::string& name, const std::string& target);
    static Node rawFile(Bytes name, std::vector<Bytes> chunks = {});  // name bytes need not be UTF-8
};

// A repository in memory behind a faulty destination.
class FaultyRepositoryTest : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    std::shared_ptr<FaultyDestination> faulty = std::make_shared<FaultyDestination>(memory);
    RepositoryKeys keys = makeKeys();
    std::shared_ptr<Repository> repository = createRepository(faulty, keys);
};

// Stores every chunk and tree below the entries and returns the root tree.
BlobID storeTree(Repository& repository, const std::vector<Node>& entries);
SnapshotID commitTree(Repository& repository, const std::vector<Node>& entries, Date now = fixedNow());

PackID packOf(const Repository& repository, const BlobID& blob);
// A file's content blobs and a folder's tree, at a "/"-separated path.
std::vector<BlobID> contentOf(const Repository& repository, const BlobID& root, const std::string& path);
BlobID treeOf(const Repository& repository, const BlobID& root, const std::string& path);
BlobID rootOf(const Repository& repository, const SnapshotID& snapshot);

// Reads of pack files (whole or ranged) in the destination's log.
std::size_t packReads(const FaultyDestination& destination);

}  // namespace wm::test

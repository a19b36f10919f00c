#pragma once
// Fixtures for the engine tests: keys, repositories, deterministic contents, one-file snapshots,
// snapshots built from a described tree of folders and files, and a repository behind a faulty
// destination.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "crypto/RepositoryKeys.h"
#include "crypto/SymmetricKey.h"
#include "engine/Repository.h"
#include "format/TreeObject.h"
#include "support/FaultyDestination.h"
#include "support/InMemoryDestination.h"
#include "support/Thrown.h"

namespace wm::test {

RepositoryKeys makeKeys();
DeviceID testDevice();
inline constexpr std::string_view kAppVersion = "9.9.9";
Date fixedNow();

// Bytes that do not compress, the same for the same seed.
Bytes randomBytes(std::size_t size, std::uint64_t seed);

std::shared_ptr<Repository> createRepository(const std::shared_ptr<Destination>& destination,
                                             const RepositoryKeys& keys, std::int64_t formatVersion = 2);
Repository::Opened openRepository(const std::shared_ptr<Destination>& destination, const RepositoryKeys& keys,
                                  Repository::Access access = Repository::Access::readWrite,
                                  std::optional<std::uint64_t> remembered = std::nullopt);

// Commits a snapshot of the stored root tree, or of one file made of the chunks.
SnapshotID commitRoot(Repository& repository, const BlobID& root, Date now = fixedNow(), SnapshotStats stats = {});
SnapshotID commitFile(Repository& repository, const std::vector<Bytes>& chunks, const std::string& name = "file",
                      Date now = fixedNow());

// Every entry of the snapshot's trees in walk order, with its "/"-joined path.
void forEachEntry(const Repository& repository, const SnapshotID& id,
                  const std::function<void(const TreeObject::Entry&, const std::string& path)>& body);
// Reads the snapshot's record, trees and blobs; returns the content bytes read.
std::uint64_t readWhole(const Repository& repository, const SnapshotID& id);

// Every file under a folder of an in-memory destination (path text -> bytes).
std::vector<std::string> filesUnder(InMemoryDestination& destination, const std::string& folder);

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

#pragma once
// Looking inside one snapshot of an open repository without restoring it: list one folder,
// read one file, search the names of every entry, and map every file to its content blobs.
// Every operation is bounded by the request (one folder, one file) or by a limit the caller
// gives, so a first page of results comes quickly from a very large snapshot. Nothing is
// written and nothing is cached; errors of reading the snapshot record, a tree or a blob pass
// through unchanged. A path that names nothing is not an error: it gives the empty result.
//
// The browser holds only the repository; copies may be used from any thread at once.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "engine/DeletedFileSearch.h"
#include "format/TreeObject.h"

namespace wm {

class Repository;

class SnapshotBrowser {
public:
    // One entry of a listed folder.
    struct Item {
        std::string name;  // the entry's name bytes as UTF-8, each ill-formed sequence as U+FFFD
        bool isDirectory = false;
        std::uint64_t size = 0;  // 0 when the entry records none
        std::optional<Date> modifiedAt;
        std::vector<std::string> path;  // from the snapshot's root, the entry's own name last

        std::string id() const;  // path joined with "/"
        friend bool operator==(const Item&, const Item&) = default;
    };

    struct Listing {
        // "/"-joined path of every entry that is not a folder -> its content blobs as hex,
        // joined by "," in stored order ("" when it has none).
        std::map<std::string, std::string> files;
        // Whether every entry of the snapshot was visited.
        bool complete = true;
    };

    explicit SnapshotBrowser(std::shared_ptr<const Repository> repository);

    // Entries whose name contains the query (DeletedFileSearch::matches), folders included,
    // depth first in stored order, a matching folder before what it holds. At most `limit`
    // hits; once they are found no further tree is read.
    std::vector<SearchHit> search(const std::string& query, const SnapshotID& snapshot, std::int64_t limit) const;

    // Every file (anything that is not a folder) with its content blobs, until the map holds
    // `limit` paths; `complete` tells whether the walk got to the end.
    Listing listing(const SnapshotID& snapshot, std::int64_t limit) const;

    // The first `limit` bytes of the regular file at path. A sparse file's holes read as
    // zeros. Blobs are fetched only until the limit is met. Anything but a regular file, or a
    // path that names nothing, gives no bytes.
    Bytes read(const std::vector<std::string>& path, const SnapshotID& snapshot, std::uint64_t limit) const;

    // The entries of the folder at path (the root for an empty path): folders first, then in
    // the file browser's order of names; equal names keep their stored order.
    std::vector<Item> contents(const std::vector<std::string>& path, const SnapshotID& snapshot) const;

private:
    std::optional<BlobID> rootTree(const SnapshotID& snapshot) const;
    std::vector<TreeObject::Entry> readTree(const BlobID& tree) const;
    // The tree of the folder reached from `tree` through the names; nothing when a name is not
    // there or names an entry without a child tree. Names compare under canonical equivalence.
    std::optional<BlobID> findFolder(BlobID tree, const std::vector<std::string>& names, std::size_t count) const;

    std::shared_ptr<const Repository> repository_;
};

}  // namespace wm

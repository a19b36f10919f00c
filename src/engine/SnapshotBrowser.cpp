#include "engine/SnapshotBrowser.h"

#include <algorithm>

#include "core/SparseLayout.h"
#include "core/Unicode.h"
#include "engine/Repository.h"
#include "format/TreeWalk.h"

namespace wm {

namespace {

using Entries = std::vector<TreeObject::Entry>;

std::string nameOf(const TreeObject::Entry& entry) { return Unicode::decodeUTF8Repairing(entry.name); }

const TreeObject::Entry* findEntry(const Entries& entries, const std::string& name) {
    for (const auto& entry : entries) {
        if (Unicode::canonicallyEqual(nameOf(entry), name)) return &entry;
    }
    return nullptr;
}

std::string blobList(const TreeObject::Entry& entry) {
    std::string text;
    if (!entry.contentBlobs) return text;
    for (std::size_t i = 0; i < entry.contentBlobs->size(); ++i) {
        if (i > 0) text += ',';
        text += (*entry.contentBlobs)[i].hex();
    }
    return text;
}

bool hasHoles(const TreeObject::Entry& entry) {
    return entry.size && entry.sparseRanges && !entry.sparseRanges->empty();
}

std::vector<std::string> appending(const std::vector<std::string>& path, std::string name) {
    std::vector<std::string> out;
    out.reserve(path.size() + 1);
    out = path;
    out.push_back(std::move(name));
    return out;
}

}  // namespace

std::string SnapshotBrowser::Item::id() const { return joinedPath(path); }

SnapshotBrowser::SnapshotBrowser(std::shared_ptr<const Repository> repository) : repository_(std::move(repository)) {}

std::optional<BlobID> SnapshotBrowser::rootTree(const SnapshotID& snapshot) const {
    return BlobID::fromBytes(repository_->snapshot(snapshot).rootTree);
}

Entries SnapshotBrowser::readTree(const BlobID& tree) const { return TreeObject::decode(repository_->blob(tree)); }

std::optional<BlobID> SnapshotBrowser::findFolder(BlobID tree, const std::vector<std::string>& names,
                                                  std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
        const Entries entries = readTree(tree);
        const TreeObject::Entry* entry = findEntry(entries, names[i]);
        if (!entry || !entry->childTree) return std::nullopt;
        tree = *entry->childTree;
    }
    return tree;
}

namespace {

// Reads every tree it is asked for from the repository; errors pass through.
class RepositoryTrees : public TreeWalk::Visitor {
public:
    explicit RepositoryTrees(const Repository& repository) : repository_(repository) {}
    std::optional<Entries> read(const BlobID& tree) override { return TreeObject::decode(repository_.blob(tree)); }

private:
    const Repository& repository_;
};

}  // namespace

std::vector<SearchHit> SnapshotBrowser::search(const std::string& query, const SnapshotID& snapshot,
                                               std::int64_t limit) const {
    std::vector<SearchHit> hits;
    const auto root = rootTree(snapshot);
    if (!root || limit <= 0) return hits;

    struct Search : RepositoryTrees {
        using RepositoryTrees::RepositoryTrees;
        const std::string* query;
        std::vector<SearchHit>* hits;
        std::int64_t limit;
        TreeWalk::Step visit(const TreeObject::Entry& entry, const TreeWalk& walk) override {
            std::vector<std::string> path = walk.pathTo(entry);
            if (DeletedFileSearch::matches(path.back(), *query))
                hits->push_back({std::move(path), entry.size.value_or(0)});
            // Once the hits are found, no further tree is read.
            if (static_cast<std::int64_t>(hits->size()) >= limit) return TreeWalk::Step::stop;
            return entry.entryType == TreeObject::EntryType::directory ? TreeWalk::Step::descend : TreeWalk::Step::next;
        }
    } search(*repository_);
    search.query = &query;
    search.hits = &hits;
    search.limit = limit;
    TreeWalk::run(*root, search);
    return hits;
}

SnapshotBrowser::Listing SnapshotBrowser::listing(const SnapshotID& snapshot, std::int64_t limit) const {
    Listing result;
    const auto root = rootTree(snapshot);
    if (!root) return result;

    struct Files : RepositoryTrees {
        using RepositoryTrees::RepositoryTrees;
        Listing* result;
        std::int64_t limit;
        TreeWalk::Step visit(const TreeObject::Entry& entry, const TreeWalk& walk) override {
            // The check comes before every entry, whatever its type.
            if (static_cast<std::int64_t>(result->files.size()) >= limit) {
                result->complete = false;
                return TreeWalk::Step::stop;
            }
            if (entry.entryType == TreeObject::EntryType::directory) return TreeWalk::Step::descend;
            result->files[joinedPath(walk.pathTo(entry))] = blobList(entry);
            return TreeWalk::Step::next;
        }
    } files(*repository_);
    files.result = &result;
    files.limit = limit;
    TreeWalk::run(*root, files);
    return result;
}

Bytes SnapshotBrowser::read(const std::vector<std::string>& path, const SnapshotID& snapshot,
                            std::uint64_t limit) const {
    const auto root = rootTree(snapshot);
    if (!root || path.empty()) return {};
    const auto folder = findFolder(*root, path, path.size() - 1);
    if (!folder) return {};
    const Entries entries = readTree(*folder);
    const TreeObject::Entry* entry = findEntry(entries, path.back());
    if (!entry || entry->entryType != TreeObject::EntryType::file) return {};
    static const std::vector<BlobID> kNone;
    const std::vector<BlobID>& blobs = entry->contentBlobs ? *entry->contentBlobs : kNone;

    Bytes bytes;
    if (!hasHoles(*entry)) {
        for (const BlobID& blob : blobs) {
            if (bytes.size() >= limit) break;
            const Bytes plaintext = repository_->blob(blob);
            bytes.insert(bytes.end(), plaintext.begin(), plaintext.end());
        }
        if (bytes.size() > limit) bytes.resize(static_cast<std::size_t>(limit));
        return bytes;
    }

    // A sparse file's blobs hold only its data regions, one after another: lay them into the
    // regions and leave the holes zero, so that what is read is the file as it was.
    const std::uint64_t size = *entry->size;
    const std::vector<SparseLayout::Region> regions = SparseLayout::dataRegions(size, *entry->sparseRanges);
    const std::uint64_t wanted = std::min(size, limit);

    std::size_t region = 0;
    std::uint64_t intoRegion = 0;  // bytes of regions[region] already laid
    for (const BlobID& blob : blobs) {
        if (region == regions.size() || regions[region].offset + intoRegion >= wanted) break;
        const Bytes plaintext = repository_->blob(blob);
        std::size_t consumed = 0;
        while (consumed < plaintext.size() && region < regions.size()) {
            const std::uint64_t at = regions[region].offset + intoRegion;
            if (at >= wanted) break;
            const std::uint64_t n = std::min({regions[region].length - intoRegion,
                                              static_cast<std::uint64_t>(plaintext.size() - consumed), wanted - at});
            if (bytes.size() < at + n) bytes.resize(static_cast<std::size_t>(at + n));
            std::copy_n(plaintext.begin() + static_cast<std::ptrdiff_t>(consumed), static_cast<std::size_t>(n),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at));
            consumed += static_cast<std::size_t>(n);
            intoRegion += n;
            if (intoRegion == regions[region].length) {
                ++region;
                intoRegion = 0;
            }
        }
    }
    bytes.resize(static_cast<std::size_t>(wanted));  // a hole at the end reads as zeros too
    return bytes;
}

std::vector<SnapshotBrowser::Item> SnapshotBrowser::contents(const std::vector<std::string>& path,
                                                             const SnapshotID& snapshot) const {
    const auto root = rootTree(snapshot);
    if (!root) return {};
    const auto folder = findFolder(*root, path, path.size());
    if (!folder) return {};

    std::vector<Item> items;
    for (const auto& entry : readTree(*folder)) {
        Item item;
        item.name = nameOf(entry);
        item.isDirectory = entry.entryType == TreeObject::EntryType::directory;
        item.size = entry.size.value_or(0);
        item.modifiedAt = Date::fromSeconds(static_cast<double>(entry.modificationTime.seconds) +
                                            static_cast<double>(entry.modificationTime.nanoseconds) / 1e9);
        item.path = appending(path, item.name);
        items.push_back(std::move(item));
    }
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        if (a.isDirectory != b.isDirectory) return a.isDirectory;
        return Unicode::localizedStandardCompare(a.name, b.name) < 0;
    });
    return items;
}

}  // namespace wm

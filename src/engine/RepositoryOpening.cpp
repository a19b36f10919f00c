// Opening a repository: the head read and compared with the remembered counter, the index
// loaded from its files (or rebuilt from the packs), and what writes that never committed left
// in "tmp".
#include <algorithm>
#include <exception>
#include <vector>

#include "core/DestinationHealth.h"
#include "engine/KeyFiles.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "format/IndexRebuild.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "storage/ReadOnlyDestination.h"

namespace wm {

namespace {

std::shared_ptr<const RepositoryKeys> sharedKeys(const RepositoryKeys& keys) {
    return std::make_shared<const RepositoryKeys>(keys);
}

}  // namespace

Repository::Repository(Passkey, std::shared_ptr<Destination> destination, RepositoryConfig config,
                       const RepositoryKeys& keys, const DeviceID& deviceID, std::string appVersion, HeadRecord head)
    : destination_(std::move(destination)),
      config_(std::move(config)),
      keys_(sharedKeys(keys)),
      cipher_(keys_, config_.blobSealing()),
      deviceID_(deviceID),
      appVersion_(std::move(appVersion)),
      head_(std::move(head)),
      keyFiles_(std::make_unique<KeyFiles>(destination_, keys_)),
      packs_(std::make_unique<PackStore>(
          destination_, cipher_, [this](IndexFile::Section section) { return packWritten(std::move(section)); },
          [this] { flushPendingIndex(); },
          [this](const BlobID& id) {
              std::shared_lock lock(stateMutex_);
              return index_.contains(id);
          })) {}

Repository::~Repository() = default;

// --- opening ---

Repository::Opened Repository::open(std::shared_ptr<Destination> destination, const RepositoryKeys& keys,
                                    const DeviceID& deviceID, std::string appVersion,
                                    std::optional<std::uint64_t> rememberedCounter, Access access) {
    if (access == Access::readOnly) destination = std::make_shared<ReadOnlyDestination>(std::move(destination));

    RepositoryConfig config = RepositoryConfig::decode(readConfigFile(*destination));
    if (!destination->exists(RepositoryLayout::head())) throw Error::headMissing();
    const BlobCipher cipher(keys, config.blobSealing());
    HeadRecord head =
        SignedFile::open<HeadRecord>(readSignedRecord(*destination, RepositoryLayout::head()), keys, cipher);
    const HeadVerdict verdict = head.compare(rememberedCounter);

    auto repository = std::make_shared<Repository>(Passkey{}, std::move(destination), std::move(config), keys, deviceID,
                                                   std::move(appVersion), std::move(head));
    repository->loadIndex();
    return Opened{std::move(repository), verdict};
}

namespace {
// 2 GiB: about 47 million blob records, more than one commit of any real backup writes.
constexpr std::uint64_t maximumIndexFileBytes = std::uint64_t{2} << 30;
}  // namespace

void Repository::loadIndex() {
    std::vector<RepoPath> files;
    for (auto& path : destination_->list(RepositoryLayout::indexDirectory())) {
        if (!path.isRoot() && path.fileName().ends_with(RepositoryLayout::indexEnding))
            files.push_back(std::move(path));
    }

    // Room for what the files can hold (each entry takes 45 bytes of a file), not a fixed
    // number per file: a repository with thousands of small index files opens in memory
    // proportional to its blobs.
    // An index file larger than any commit writes (a sparse or damaged file can claim any
    // size) is passed over like a damaged one, before anything is read or reserved for it.
    std::uint64_t totalBytes = 0;
    bool passedOver = false;
    std::vector<RepoPath> readable;
    for (auto& path : files) {
        // A named pipe, folder or device has no size: passed over the same way, never opened.
        const std::optional<std::int64_t> known = destination_->size(path);
        const std::int64_t size = std::max<std::int64_t>(known.value_or(0), 0);
        if (!known || static_cast<std::uint64_t>(size) > maximumIndexFileBytes) {
            passedOver = true;
            continue;
        }
        totalBytes += static_cast<std::uint64_t>(size);
        readable.push_back(std::move(path));
    }
    files = std::move(readable);

    // The sizes are only a hint: a sparse or damaged file can claim any size, so the
    // reservation is capped and the index grows past it as entries really arrive.
    constexpr std::uint64_t reservationCap = std::uint64_t{1} << 24;
    CompactIndex index;
    index.reserveCapacity(
        static_cast<std::size_t>(std::min<std::uint64_t>(totalBytes / PackFile::directoryRecordSize, reservationCap)));
    bool merged = false;
    std::unordered_set<std::string> loadedFiles;
    for (const auto& path : files) {
        const Bytes sealed = destination_->read(path);  // a read error ends the opening
        std::vector<IndexFile::Section> sections;
        try {
            sections = IndexFile::decode(cipher_.openMetadata(sealed));
        } catch (const BlobCipherError&) {
            passedOver = true;
            continue;
        } catch (const IndexFile::Error&) {
            passedOver = true;
            continue;
        }
        for (const auto& section : sections) index.appendUnchecked(section);
        merged = true;
        loadedFiles.insert(path.fileName());
    }
    index.finishAppending();

    if (merged) {
        // A damaged index file must not hide blobs: the packs no readable index file names
        // are indexed from the pack files themselves.
        if (passedOver) indexPacks(*destination_, cipher_, index, index.packs());
    } else if (!RepositoryLayout::packPaths(*destination_).empty()) {
        index = CompactIndex();
        indexPacks(*destination_, cipher_, index);
    }

    std::unique_lock lock(stateMutex_);
    index_ = std::move(index);
    indexFiles_ = std::move(loadedFiles);
}

void Repository::discardCrashDebris() {
    // Only the files writes left pending: "tmp" may hold a person's own files, and folders that
    // are never entered. Another writer's pending files lie there too: only the holder of the
    // lock removes any, and only what was listed while it held the lock.
    destination_->discardPendingWrites([this] { confirmWriting(); });
}

CompactIndex Repository::rebuildIndexFromPacks() const { return rebuildIndex(*destination_, cipher_); }

}  // namespace wm

// Creating a repository in an order that a stop at any moment leaves for the next run: key
// files, then the config, then the caller's own durable step, then the head. What stops
// before the config leaves key files, which the next creation removes; what stops after it
// leaves a config without a head, which the secrets kept complete (finishCreation) or which,
// proved to be the caller's, is taken back (withdrawUnfinishedCreation).
#include <algorithm>
#include <exception>
#include <unordered_set>
#include <vector>

#include "engine/KeyFiles.h"
#include "engine/Repository.h"
#include "format/CreationLeftovers.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm {

namespace {

// Whether any snapshot record, index file or pack file lies in its folder. What a creation
// that stopped part-way leaves (a config, key files, the drive files) holds none of them.
bool holdsRepositoryData(Destination& destination) {
    if (!destination.list(RepositoryLayout::snapshotsDirectory()).empty()) return true;
    if (!destination.list(RepositoryLayout::indexDirectory()).empty()) return true;
    return !RepositoryLayout::packPaths(destination).empty();
}

void confirm(const Repository::WritingCheck& check) {
    if (check) check();
}

// Leaves exactly `kept` under "keys": those not there with the same bytes are written, then
// every other key file is removed, the check run before each step. A removal lasts only once
// its folder is synced: when any was made, the first kept file is written again, and its
// folder's sync makes the removals last (with nothing kept, they may come back after a power
// cut). A file that is no key file is left alone.
void keepOnlyKeyFiles(Destination& destination, const std::vector<KeyFile>& kept,
                      const Repository::WritingCheck& check) {
    std::unordered_set<std::string> keep;
    for (const KeyFile& file : kept) {
        const RepoPath path = RepositoryLayout::key(file.keyID);
        keep.insert(path.string());
        const Bytes bytes = file.encoded();
        const auto size = static_cast<std::int64_t>(bytes.size());
        const ObjectOpening there = destination.opening(path, size);
        if (there.kind != ObjectOpening::Kind::file || there.size != size || there.bytes != bytes)
            Repository::write(bytes, path, destination, check);
    }
    bool removed = false;
    for (const auto& [path, file] : KeyFiles::listed(destination)) {
        if (keep.contains(path.string())) continue;
        confirm(check);
        destination.remove(path);
        removed = true;
    }
    if (removed && !kept.empty())
        Repository::write(kept.front().encoded(), RepositoryLayout::key(kept.front().keyID), destination, check);
}

// Removes the file at path while it holds `written` (read without following a link), so that
// no person's file is ever removed. Never throws; whether no file is left there.
bool removeIfHolding(Destination& destination, const RepoPath& path, ByteView written) {
    try {
        const auto size = static_cast<std::int64_t>(written.size());
        const ObjectOpening there = destination.opening(path, size);
        if (there.kind == ObjectOpening::Kind::nothing) return true;
        if (there.kind != ObjectOpening::Kind::file || there.size != size || !std::ranges::equal(there.bytes, written))
            return false;
        destination.remove(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The head goes only when these keys signed it, which no person's file is.
bool removeOwnHead(Destination& destination, const RepositoryKeys& keys, const BlobCipher& cipher) {
    try {
        constexpr std::int64_t limit = RepositoryFormat::signedRecordMaximumBytes;
        const ObjectOpening there = destination.opening(RepositoryLayout::head(), limit);
        if (there.kind == ObjectOpening::Kind::nothing) return true;
        if (there.kind != ObjectOpening::Kind::file || there.size > limit) return false;
        (void)SignedFile::open<HeadRecord>(there.bytes, keys, cipher);
        destination.remove(RepositoryLayout::head());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// What a creation takes back when it fails: the config first, so that the folder is no
// repository before anything it needs goes, then the key files and a head these keys signed
// (a write can fail once its file is in place); each only while it is what this creation
// wrote, and nothing once the writing check fails.
void takeBack(Destination& destination, const RepositoryKeys& keys, const RepositoryConfig& config,
              const std::vector<KeyFile>& keyFiles, const Repository::WritingCheck& check) {
    try {
        confirm(check);
    } catch (const std::exception&) {
        return;
    }
    if (!removeIfHolding(destination, RepositoryLayout::configFile(), config.encoded())) return;
    for (const KeyFile& keyFile : keyFiles)
        removeIfHolding(destination, RepositoryLayout::key(keyFile.keyID), keyFile.encoded());
    removeOwnHead(destination, keys, BlobCipher(keys, config.blobSealing()));
}

// The head that makes a creation whole, after the caller's own step, and the drive read-me.
HeadRecord writeFirstHead(Destination& destination, const RepositoryKeys& keys, const RepositoryConfig& config,
                          const DeviceID& deviceID, std::string_view appVersion, Date now,
                          const Repository::CreationSteps& steps) {
    HeadRecord head(0, {}, now, deviceID.data());
    const BlobCipher cipher(keys, config.blobSealing());
    Repository::write(SignedFile::seal(head, keys, cipher), RepositoryLayout::head(), destination, steps.writingCheck);
    Repository::writeReadMe(destination, appVersion, steps.writingCheck);
    return head;
}

}  // namespace

std::shared_ptr<Repository> Repository::create(const std::shared_ptr<Destination>& destination,
                                               const RepositoryKeys& keys, const DeviceID& deviceID,
                                               std::string appVersion, std::optional<RepositoryConfig::KDF> kdf,
                                               std::int64_t formatVersion, Date now,
                                               const std::vector<KeyFile>& keyFiles, const CreationSteps& steps) {
    if (destination->exists(RepositoryLayout::configFile())) throw Error::alreadyExists();
    // A head beside snapshot records, index files or packs is a repository whose config went
    // missing: a new head written over it would drop every snapshot from the list.
    if (destination->exists(RepositoryLayout::head()) && holdsRepositoryData(*destination))
        throw Error::alreadyExists();
    if (!RepositoryFormat::supportedVersions.contains(formatVersion))
        throw RepositoryConfig::Error::unsupportedVersion(formatVersion, RepositoryFormat::supportedVersions);
    // A person's own file at a name the repository uses (a head among them) is never written
    // over; only what a creation cut short leaves is.
    if (CreationLeftovers::firstForeignEntry(*destination, CreationLeftovers::OtherNames::passedOver))
        throw Error::holdsOtherFiles();

    RepositoryConfig config(keys.repositoryID, createdByText(appVersion, hostPlatform()), now, formatVersion);
    config.kdf = std::move(kdf);

    // The config says "a repository is here" and goes after the key files that open it; the
    // caller's step after it, while the repository can still be finished or taken back. A
    // failure takes back what was written, but not once the caller's step is done: what it
    // kept (a recovery key's text) would then open nothing.
    bool stepDone = false;
    std::optional<HeadRecord> head;
    try {
        // The key files an earlier creation left open nothing anyone keeps: they go, so that no
        // key list counts them.
        keepOnlyKeyFiles(*destination, keyFiles, steps.writingCheck);
        write(config.encoded(), RepositoryLayout::configFile(), *destination, steps.writingCheck);
        if (steps.beforeHead) {
            steps.beforeHead();
            stepDone = true;
        }
        head = writeFirstHead(*destination, keys, config, deviceID, appVersion, now, steps);
    } catch (const std::exception&) {
        if (!stepDone) takeBack(*destination, keys, config, keyFiles, steps.writingCheck);
        throw;
    }
    return std::make_shared<Repository>(Passkey{}, destination, std::move(config), keys, deviceID,
                                        std::move(appVersion), std::move(*head));
}

std::optional<RepositoryConfig> Repository::unfinishedCreation(Destination& destination) {
    if (!destination.exists(RepositoryLayout::configFile())) return std::nullopt;
    if (destination.exists(RepositoryLayout::head()) || holdsRepositoryData(destination)) return std::nullopt;
    try {
        return RepositoryConfig::decode(readConfigFile(destination));
    } catch (const RepositoryConfig::Error&) {
        return std::nullopt;
    }
}

std::shared_ptr<Repository> Repository::finishCreation(const std::shared_ptr<Destination>& destination,
                                                       const RepositoryKeys& keys, const DeviceID& deviceID,
                                                       std::string appVersion, Date now,
                                                       const std::vector<KeyFile>& keyFiles,
                                                       const CreationSteps& steps) {
    std::optional<RepositoryConfig> config = unfinishedCreation(*destination);
    if (!config) throw Error::alreadyExists();
    if (config->identity() != keys.repositoryID) throw KeyFile::Error::wrongKey();
    if (CreationLeftovers::firstForeignEntry(*destination, CreationLeftovers::OtherNames::passedOver))
        throw Error::holdsOtherFiles();

    // The kept secrets' files first, so that one always opens what is there.
    keepOnlyKeyFiles(*destination, keyFiles, steps.writingCheck);
    if (steps.beforeHead) steps.beforeHead();
    HeadRecord head = writeFirstHead(*destination, keys, *config, deviceID, appVersion, now, steps);
    return std::make_shared<Repository>(Passkey{}, destination, std::move(*config), keys, deviceID,
                                        std::move(appVersion), std::move(head));
}

void Repository::withdrawUnfinishedCreation(Destination& destination, const RepositoryID& repositoryID,
                                            const WritingCheck& writingCheck) {
    const std::optional<RepositoryConfig> config = unfinishedCreation(destination);
    if (!config || config->identity() != repositoryID) throw Error::alreadyExists();
    confirm(writingCheck);
    destination.remove(RepositoryLayout::configFile());
    // What stays of its key files, should the removals not last, a creation removes.
    keepOnlyKeyFiles(destination, {}, writingCheck);
}

}  // namespace wm

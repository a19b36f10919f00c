#include "maintenance/Replicator.h"

#include <algorithm>

#include "core/WorkerPool.h"
#include "crypto/KeyFile.h"
#include "engine/HoldRecord.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "engine/RetentionRecord.h"
#include "format/HeadRecord.h"
#include "format/IndexFile.h"
#include "format/IndexRebuild.h"
#include "format/PackVerification.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "maintenance/IdentityDigest.h"
#include "maintenance/IndexFiles.h"
#include "maintenance/ReplicaStateRecord.h"
#include "maintenance/SnapshotNeeds.h"

namespace wm {

namespace {

RepositoryID repositoryIDOf(Destination& destination) {
    const RepositoryConfig config = RepositoryConfig::decode(Repository::readConfigFile(destination));
    return *RepositoryID::fromBytes(config.repositoryID);
}

// The folders only a repository has: found without a config, they are another repository's
// whose config went missing, never an empty place to copy into.
bool holdsRepositoryParts(Destination& destination) {
    for (const RepoPath& folder : {RepositoryLayout::head().parent(), RepositoryLayout::packsDirectory(),
                                   RepositoryLayout::keysDirectory(), RepositoryLayout::snapshotsDirectory()}) {
        if (destination.exists(folder)) return true;
    }
    return false;
}

// Whether the file is there, no larger than the limit, and `check` accepts its bytes.
template <class Check>
bool opens(Destination& destination, const RepoPath& path, std::int64_t limit, Check&& check) {
    try {
        const auto bytes = destination.readAtMost(path, limit);
        if (!bytes) return false;
        check(*bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Whether the bytes open as a signed record of this type under the keys.
template <class Record>
bool opensAs(ByteView bytes, const RepositoryKeys& keys, const BlobCipher& cipher) {
    try {
        SignedFile::open<Record>(bytes, keys, cipher);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool Replicator::checkTarget(const RepositoryID& source, Destination& target) {
    if (target.exists(RepositoryLayout::configFile())) {
        const RepositoryID found = repositoryIDOf(target);
        if (found != source) throw Error::foreignRepository(source, found);
        return true;
    }
    if (holdsRepositoryParts(target)) throw Error::foreignRepository(source, RepositoryID{});
    return false;
}

Bytes Replicator::digest(const std::unordered_set<PackID>& packs) { return identityDigest(packs); }

void Replicator::copyMissingFiles(const RepoPath& folder, Destination& from, Destination& to, std::int64_t limit,
                                  const std::function<void(ByteView)>& check) {
    const auto listed = from.list(folder);
    std::unordered_set<std::string> present;
    for (const auto& path : to.list(folder)) {
        if (!path.isRoot()) present.insert(path.fileName());
    }
    for (const auto& path : listed) {
        if (path.isRoot()) continue;
        // A file there by name that does not open is written again from the source.
        if (present.count(path.fileName()) != 0 && opens(to, path, limit, check)) continue;
        // One larger than the format ever writes is damaged at the source: not copied.
        if (const auto bytes = from.readAtMost(path, limit)) Repository::write(*bytes, path, to);
    }
}

void Replicator::copyIfChanged(ByteView bytes, const RepoPath& path, Destination& destination) {
    try {
        const auto existing = destination.readAtMost(path, RepositoryFormat::signedRecordMaximumBytes);
        if (existing && std::equal(existing->begin(), existing->end(), bytes.begin(), bytes.end())) return;
    } catch (const std::exception&) {
        // Not readable there: written anew.
    }
    Repository::write(bytes, path, destination);
}

ReplicationReport Replicator::replicate(const Repository& source, Destination& target, const RepositoryKeys& keys) {
    std::lock_guard running(running_);
    Destination& from = *source.destination();
    const Date start = Date::repositoryNow();
    const BlobCipher cipher(keys, BlobCipher::Sealing::nonceFromStoredBytes);

    // Everything that can refuse the run is settled before the first write to the target.
    const Bytes configBytes = Repository::readConfigFile(from);
    const RepositoryID sourceID = *RepositoryID::fromBytes(RepositoryConfig::decode(configBytes).repositoryID);
    if (keys.repositoryID != sourceID) throw KeyFile::Error::wrongKey();
    const Bytes headBefore = Repository::readSignedRecord(from, RepositoryLayout::head());
    const HeadRecord sourceHead = SignedFile::open<HeadRecord>(headBefore, keys, cipher);
    const bool targetHasConfig = checkTarget(sourceID, target);
    // What an earlier run left half written (the caller holds the copy's lock).
    for (const auto& path : target.list(RepositoryLayout::tmpDirectory())) {
        try {
            target.remove(path);
        } catch (const DestinationError&) {
            // Left for the next run; nothing reads it.
        }
    }
    if (!targetHasConfig) Repository::write(configBytes, RepositoryLayout::configFile(), target);

    if (!target.exists(RepositoryLayout::head())) {
        const HeadRecord placeholder(0, {}, start, Bytes(16, 0));
        Repository::write(SignedFile::seal(placeholder, keys, cipher), RepositoryLayout::head(), target);
    }
    // A key file that differs from the source's stays; one that does not decode is replaced.
    copyMissingFiles(RepositoryLayout::keysDirectory(), from, target, RepositoryFormat::keyFileMaximumBytes,
                     [](ByteView bytes) { KeyFile::decode(bytes); });

    // Both sides indexed from the packs themselves; a pack that does not validate holds nothing.
    // Packs are read and checked in parallel; every result is the same as one at a time.
    WorkerPool pool(PackStore::sealingWidth(activeProcessorCount()));
    CompactIndex sourceIndex;
    std::unordered_map<PackID, RepoPath> sourcePaths;
    indexCheckedPacks(from, source.cipher(), sourceIndex, &sourcePaths);
    CompactIndex targetIndex;
    indexCheckedPacks(target, cipher, targetIndex);

    // A pack file on the source that does not validate (or has gone) leaves its blobs out of the
    // source index, so nothing asks for them: a blob the repository's own index knows that
    // neither side can supply is missing from the copy, which is then not current.
    bool blobsMissingFromCopy = false;
    source.withIndex([&](const CompactIndex& known) {
        known.forEach([&](const BlobID& id, const CompactIndex::Location&) {
            if (!blobsMissingFromCopy && !sourceIndex.contains(id) && !targetIndex.contains(id))
                blobsMissingFromCopy = true;
        });
    });

    std::unordered_set<PackID> wanted;
    sourceIndex.forEach([&](const BlobID& id, const CompactIndex::Location& location) {
        if (!targetIndex.contains(id)) wanted.insert(location.pack);
    });
    std::vector<PackID> order(wanted.begin(), wanted.end());
    std::sort(order.begin(), order.end(), [](const PackID& a, const PackID& b) { return a.bytes < b.bytes; });

    // Written one after another in copy order, the next ones read meanwhile; read from where
    // each was found, written where it belongs.
    std::vector<std::int64_t> sizes(order.size());
    orderedPipeline<Bytes>(
        pool, order.size(), 2, [&](std::size_t k) { return from.read(sourcePaths.at(order[k])); },
        [&](std::size_t k, Bytes&& bytes) {
            Repository::write(bytes, RepositoryLayout::pack(order[k]), target);
            sizes[k] = static_cast<std::int64_t>(bytes.size());
        });
    // Every written pack read back from the target and checked against its name.
    ReplicationReport report;
    std::unordered_set<PackID> copied;
    CompactIndex copyIndex = targetIndex;  // every blob in a checked pack of the copy
    using Directory = std::optional<std::vector<PackFile::Entry>>;
    orderedPipeline<Directory>(
        pool, order.size(), static_cast<std::size_t>(pool.width()) * 2,
        [&](std::size_t k) -> Directory {
            try {
                return PackVerifier(cipher).check(target, RepositoryLayout::pack(order[k]), order[k]);
            } catch (const PackFile::Error&) {
            } catch (const BlobCipherError&) {
            }
            return std::nullopt;
        },
        [&](std::size_t k, Directory&& entries) {
            if (!entries) {
                report.failedObjects.push_back(order[k]);
                return;
            }
            ++report.packsCopied;
            report.bytesCopied += sizes[k];
            copied.insert(order[k]);
            copyIndex.merge(IndexFile::Section{order[k], std::move(*entries)});
        });

    copyMissingFiles(RepositoryLayout::indexDirectory(), from, target, largestIndexFileBytes,
                     [&](ByteView bytes) { IndexFile::decode(cipher.openMetadata(bytes)); });
    copyMissingFiles(RepositoryLayout::snapshotsDirectory(), from, target, RepositoryFormat::signedRecordMaximumBytes,
                     [&](ByteView bytes) { SignedFile::open<SnapshotRecord>(bytes, keys, cipher); });
    // Holds and the retention setting pass only as the signed records they claim to be.
    for (const auto& path : from.list(RepositoryLayout::holdsDirectory())) {
        if (path.isRoot()) continue;
        const auto bytes = from.readAtMost(path, RepositoryFormat::signedRecordMaximumBytes);
        if (bytes && opensAs<HoldRecord>(*bytes, keys, cipher)) copyIfChanged(*bytes, path, target);
    }
    std::optional<Bytes> retention;
    try {
        retention = from.readAtMost(RepositoryLayout::retentionSetting(), RepositoryFormat::signedRecordMaximumBytes);
    } catch (const std::exception&) {
    }
    if (retention && opensAs<RetentionRecord>(*retention, keys, cipher))
        copyIfChanged(*retention, RepositoryLayout::retentionSetting(), target);

    // The head moves only when every snapshot it lists reads whole from the copy, and never
    // back past a newer one. Trees are opened with the repository's own sealing.
    std::vector<SnapshotID> listed;
    for (const auto& id : sourceHead.snapshots) listed.push_back(SnapshotID{id});
    report.snapshotsNotWhole = findSnapshotNeeds(target, listed, keys, source.cipher(), {{target, copyIndex}}).notWhole;
    const bool headMayMove = report.failedObjects.empty() && report.snapshotsNotWhole.empty();
    std::optional<HeadRecord> targetHead;
    try {
        targetHead =
            SignedFile::open<HeadRecord>(Repository::readSignedRecord(target, RepositoryLayout::head()), keys, cipher);
    } catch (const std::exception&) {
        if (!headMayMove) throw;
    }
    const bool targetAhead = targetHead && targetHead->counter > sourceHead.counter;
    HeadRecord held = sourceHead;
    if (headMayMove && !targetAhead) {
        Repository::write(headBefore, RepositoryLayout::head(), target);
    } else {
        held = *targetHead;
    }

    std::unordered_set<PackID> present = targetIndex.packs();
    present.insert(copied.begin(), copied.end());
    const DestinationCapabilities capabilities = target.capabilities();
    ReplicaStateRecord state;
    state.replicaID = target.id().value;
    state.kind = ReplicaStateRecord::kindName(target.kind());
    state.lastSyncAt = start;
    state.holdsSnapshots = held.snapshots;
    state.holdsPacksDigest = digest(present);
    state.durability = capabilities.remoteVerification ? "verified" : "writtenLocally";
    if (capabilities.remoteVerification) state.lastVerifiedAt = start;
    Repository::write(SignedFile::seal(state, keys, cipher), RepositoryLayout::replicaState(target.id()), target);

    bool unchanged = false;
    try {
        unchanged = Repository::readSignedRecord(from, RepositoryLayout::head()) == headBefore;
    } catch (const std::exception&) {
    }
    Repository::writeReadMe(target, source.appVersion());

    report.packsAlreadyPresent = static_cast<std::int64_t>(sourceIndex.packs().size() - wanted.size());
    report.sourceAdvancedDuringRun = !unchanged;
    report.isCurrent = headMayMove && unchanged && !targetAhead && !blobsMissingFromCopy;
    return report;
}

Replicator::RepairResult Replicator::repair(const std::vector<PackID>& packs, Destination& from, Destination& into,
                                            const RepositoryKeys& keys) {
    std::lock_guard running(running_);
    RepairResult result;
    if (packs.empty()) return result;
    PackVerifier verifier(BlobCipher(keys, BlobCipher::Sealing::nonceFromStoredBytes));
    for (const PackID& pack : packs) {
        const RepoPath path = RepositoryLayout::pack(pack);
        Bytes bytes;
        try {
            // Larger than any pack: damaged, and not read.
            bytes = from.readAtMost(path, RepositoryFormat::packMaximumBytes).value();
            verifier.check(bytes, pack);
        } catch (const std::exception&) {
            // Missing, unreachable or not this pack: the damaged file stays as it was.
            result.refused.push_back(pack);
            continue;
        }
        Repository::write(bytes, path, into);
        result.repaired.push_back(pack);
    }
    return result;
}

}  // namespace wm

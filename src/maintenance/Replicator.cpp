#include "maintenance/Replicator.h"

#include <algorithm>

#include "core/WorkerPool.h"
#include "crypto/KeyFile.h"
#include "engine/HoldRecord.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "engine/RetentionRecord.h"
#include "format/HeadRecord.h"
#include "format/IndexRebuild.h"
#include "format/PackVerification.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "maintenance/IdentityDigest.h"
#include "maintenance/ReplicaStateRecord.h"

namespace wm {

namespace {

RepositoryID repositoryIDOf(Destination& destination) {
    const RepositoryConfig config = RepositoryConfig::decode(destination.read(RepositoryLayout::configFile()));
    return *RepositoryID::fromBytes(config.repositoryID);
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

Bytes Replicator::digest(const std::unordered_set<PackID>& packs) { return identityDigest(packs); }

void Replicator::copyMissingFiles(const RepoPath& folder, Destination& from, Destination& to) {
    const auto listed = from.list(folder);
    std::unordered_set<std::string> present;
    for (const auto& path : to.list(folder)) {
        if (!path.isRoot()) present.insert(path.fileName());
    }
    for (const auto& path : listed) {
        if (path.isRoot() || present.count(path.fileName()) != 0) continue;
        Repository::write(from.read(path), path, to);
    }
}

void Replicator::copyIfChanged(ByteView bytes, const RepoPath& path, Destination& destination) {
    try {
        const Bytes existing = destination.read(path);
        if (std::equal(existing.begin(), existing.end(), bytes.begin(), bytes.end())) return;
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
    const Bytes configBytes = from.read(RepositoryLayout::configFile());
    const RepositoryID sourceID = *RepositoryID::fromBytes(RepositoryConfig::decode(configBytes).repositoryID);
    if (keys.repositoryID != sourceID) throw KeyFile::Error::wrongKey();
    const Bytes headBefore = from.read(RepositoryLayout::head());
    const HeadRecord sourceHead = SignedFile::open<HeadRecord>(headBefore, keys, cipher);
    const bool targetHasConfig = target.exists(RepositoryLayout::configFile());
    if (targetHasConfig) {
        const RepositoryID found = repositoryIDOf(target);
        if (found != sourceID) throw Error::foreignRepository(sourceID, found);
    } else {
        Repository::write(configBytes, RepositoryLayout::configFile(), target);
    }

    if (!target.exists(RepositoryLayout::head())) {
        const HeadRecord placeholder(0, {}, start, Bytes(16, 0));
        Repository::write(SignedFile::seal(placeholder, keys, cipher), RepositoryLayout::head(), target);
    }
    copyMissingFiles(RepositoryLayout::keysDirectory(), from, target);

    // Both sides indexed from the packs themselves; a pack that does not validate holds nothing.
    // Packs are read and checked in parallel; every result is the same as one at a time.
    WorkerPool pool(PackStore::sealingWidth(activeProcessorCount()));
    CompactIndex sourceIndex;
    std::unordered_map<PackID, RepoPath> sourcePaths;
    indexPacks(from, source.cipher(), sourceIndex, {}, &sourcePaths, &pool);
    CompactIndex targetIndex;
    indexPacks(target, cipher, targetIndex, {}, nullptr, &pool);

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
    orderedPipeline<bool>(
        pool, order.size(), static_cast<std::size_t>(pool.width()) * 2,
        [&](std::size_t k) {
            try {
                PackVerifier(cipher).check(target, RepositoryLayout::pack(order[k]), order[k]);
                return true;
            } catch (const PackFile::Error&) {
            } catch (const BlobCipherError&) {
            }
            return false;
        },
        [&](std::size_t k, bool&& accepted) {
            if (!accepted) {
                report.failedObjects.push_back(order[k]);
                return;
            }
            ++report.packsCopied;
            report.bytesCopied += sizes[k];
            copied.insert(order[k]);
        });

    copyMissingFiles(RepositoryLayout::indexDirectory(), from, target);
    copyMissingFiles(RepositoryLayout::snapshotsDirectory(), from, target);
    // Holds and the retention setting pass only as the signed records they claim to be.
    for (const auto& path : from.list(RepositoryLayout::holdsDirectory())) {
        if (path.isRoot()) continue;
        const Bytes bytes = from.read(path);
        if (opensAs<HoldRecord>(bytes, keys, cipher)) copyIfChanged(bytes, path, target);
    }
    std::optional<Bytes> retention;
    try {
        retention = from.read(RepositoryLayout::retentionSetting());
    } catch (const std::exception&) {
    }
    if (retention && opensAs<RetentionRecord>(*retention, keys, cipher))
        copyIfChanged(*retention, RepositoryLayout::retentionSetting(), target);

    // The head moves only when every pack is there, and never back past a newer one.
    std::optional<HeadRecord> targetHead;
    try {
        targetHead = SignedFile::open<HeadRecord>(target.read(RepositoryLayout::head()), keys, cipher);
    } catch (const std::exception&) {
        if (!report.failedObjects.empty()) throw;
    }
    const bool targetAhead = targetHead && targetHead->counter > sourceHead.counter;
    HeadRecord held = sourceHead;
    if (report.failedObjects.empty() && !targetAhead) {
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
        unchanged = from.read(RepositoryLayout::head()) == headBefore;
    } catch (const std::exception&) {
    }
    Repository::writeReadMe(target, source.appVersion());

    report.packsAlreadyPresent = static_cast<std::int64_t>(sourceIndex.packs().size() - wanted.size());
    report.sourceAdvancedDuringRun = !unchanged;
    report.isCurrent = report.failedObjects.empty() && unchanged && !targetAhead && !blobsMissingFromCopy;
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
            bytes = from.read(path);
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

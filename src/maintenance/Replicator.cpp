#include "maintenance/Replicator.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Saturating.h"
#include "core/WorkerPool.h"
#include "crypto/KeyFile.h"
#include "engine/HoldRecord.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "engine/RetentionRecord.h"
#include "engine/WritingLockErrors.h"
#include "format/HeadRecord.h"
#include "format/IndexFile.h"
#include "format/IndexRebuild.h"
#include "format/PackVerification.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/RepositoryPresentation.h"
#include "format/SignedFile.h"
#include "maintenance/IdentityDigest.h"
#include "maintenance/IndexFiles.h"
#include "maintenance/ReplicaStateRecord.h"
#include "maintenance/SnapshotNeeds.h"

namespace wm {

namespace {

RepositoryID repositoryIDOf(Destination& destination) {
    const RepositoryConfig config = RepositoryConfig::decode(readConfigFile(destination));
    return *RepositoryID::fromBytes(config.repositoryID);
}

// The folders only a repository has: found without a config, they are a repository's whose
// config went missing (this one's or another's, nothing tells), never an empty place to copy into.
bool holdsRepositoryParts(Destination& destination) {
    for (const RepoPath& folder : {RepositoryLayout::head().parent(), RepositoryLayout::packsDirectory(),
                                   RepositoryLayout::keysDirectory(), RepositoryLayout::snapshotsDirectory()}) {
        if (destination.exists(folder)) return true;
    }
    return false;
}

using Check = std::function<void(ByteView)>;

// Whether `check` accepts the bytes (it refuses by throwing).
bool accepts(const Check& check, ByteView bytes) {
    try {
        check(bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Whether the file is there, no larger than the limit, and `check` accepts its bytes.
bool opens(Destination& destination, const RepoPath& path, std::int64_t limit, const Check& check) {
    try {
        const auto bytes = destination.readAtMost(path, limit);
        return bytes && accepts(check, *bytes);
    } catch (const std::exception&) {
        return false;
    }
}

// A check that the bytes open as a signed record of this type under the keys.
template <class Record>
Check opensAs(const RepositoryKeys& keys, const BlobCipher& cipher) {
    return [&keys, &cipher](ByteView bytes) { SignedFile::open<Record>(bytes, keys, cipher); };
}

// A failure of the primary's own side: never read as the copy being empty or away.
struct PrimaryFailure {
    std::exception_ptr error;
};

// The snapshot's record on the destination, when it reads and opens.
std::optional<SnapshotRecord> recordOf(Destination& destination, const UUID& id, const RepositoryKeys& keys,
                                       const BlobCipher& cipher) {
    try {
        const auto file = readSignedRecord(destination, RepositoryLayout::snapshot(SnapshotID{id}));
        return SignedFile::open<SnapshotRecord>(file, keys, cipher);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<Date> createdAt(Destination& destination, const UUID& id, const RepositoryKeys& keys,
                              const BlobCipher& cipher) {
    const auto record = recordOf(destination, id, keys, cipher);
    return record ? std::optional(record->createdAt) : std::nullopt;
}

// The signed record at the path, or nothing when it is absent, larger than any record or does
// not open; any other failure to read it is thrown.
template <class Record>
std::optional<Record> openedRecord(Destination& destination, const RepoPath& path, const RepositoryKeys& keys,
                                   const BlobCipher& cipher) {
    std::optional<Bytes> bytes;
    try {
        bytes = destination.readAtMost(path, RepositoryFormat::signedRecordMaximumBytes);
    } catch (const DestinationError& error) {
        if (error.kind != DestinationError::Kind::notFound) throw;
    }
    if (!bytes) return std::nullopt;
    try {
        return SignedFile::open<Record>(*bytes, keys, cipher);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The snapshots some replica state on the copy lists: a replication put them there. A replica
// state that does not open vouches for nothing.
std::unordered_set<UUID> listedByReplicaStates(Destination& copy, const RepositoryKeys& keys,
                                               const BlobCipher& cipher) {
    std::unordered_set<UUID> listed;
    for (const auto& path : copy.list(RepositoryLayout::replicasDirectory())) {
        if (path.isRoot()) continue;
        if (const auto state = openedRecord<ReplicaStateRecord>(copy, path, keys, cipher))
            listed.insert(state->holdsSnapshots.begin(), state->holdsSnapshots.end());
    }
    return listed;
}

// Snapshots the copy's head lists that the source's head does not and that no replica state on
// the copy lists: they were backed up into the copy, not copied there. (One a replica state
// lists was pruned at the source, and goes from the copy's list too.) A copy's head that does
// not open lists nothing known.
std::vector<ReplicationReport::CopyOnlyBackup> backupsMadeInto(Destination& copy, const HeadRecord& source,
                                                               const std::unordered_set<UUID>& replicated,
                                                               const RepositoryKeys& keys, const BlobCipher& cipher) {
    const auto head = openedRecord<HeadRecord>(copy, RepositoryLayout::head(), keys, cipher);
    if (!head) return {};
    std::unordered_set<UUID> known(source.snapshots.begin(), source.snapshots.end());
    known.insert(replicated.begin(), replicated.end());
    std::vector<ReplicationReport::CopyOnlyBackup> made;
    for (const auto& id : head->snapshots) {
        if (known.count(id) != 0) continue;
        known.insert(id);  // named once, however often the head repeats it
        ReplicationReport::CopyOnlyBackup backup{SnapshotID{id}, std::nullopt, {}};
        if (const auto record = recordOf(copy, id, keys, cipher)) {
            backup.createdAt = record->createdAt;
            backup.deviceName = record->deviceName;
        }
        made.push_back(std::move(backup));
    }
    return made;
}

}  // namespace

// What one replicate() settles before it writes, and what it learns while copying.
struct Replicator::Run {
    const Repository& source;
    Destination& from;
    Destination& target;
    const RepositoryKeys& keys;
    const std::function<void()>& check;  // the copy's writing lock, before each write or removal
    Date start = Date::repositoryNow();
    BlobCipher cipher{keys, BlobCipher::Sealing::nonceFromStoredBytes};
    Bytes configBytes;
    RepositoryID sourceID;
    Bytes headBefore;  // the source's head as read before anything was written
    std::optional<HeadRecord> sourceHead;
    bool targetHasConfig = false;
    std::unordered_set<UUID> replicated;  // listed by the copy's replica states before this run wrote
    bool headMayMove = false;             // no pack failed and every listed snapshot reads whole from the copy
    bool targetAhead = false;             // the copy's head is newer than the source's

    CompactIndex sourceIndex;  // both sides indexed from their checked packs
    CompactIndex targetIndex;
    std::size_t packsWanted = 0;
    bool blobsMissingFromCopy = false;
    std::unordered_set<PackID> copied;
    CompactIndex copyIndex;  // every blob in a checked pack of the copy

    // How far the run came, for the sentence of a run stopped by the loss of the copy's lock.
    enum class Stage { preparing, copyingPacks, copyingRecords, movingHead, finishing };
    Stage stage = Stage::preparing;
    std::int64_t filesPut = 0;
    std::int64_t filesPutBeforeRecords = 0;
    std::int64_t packsCopied = 0;  // written, then those that read back whole
    bool headMoved = false;

    void confirmHeld() const {
        if (check) check();
    }
    // Puts the bytes in place on the copy once its writing lock is confirmed.
    void put(ByteView bytes, const RepoPath& path) {
        Repository::write(bytes, path, target, check);
        ++filesPut;
    }
    // What the run had done when it stopped, as whole sentences.
    std::string done() const;
};

std::string Replicator::Run::done() const {
    if (filesPut == 0) return WM_L("It had not written anything into the copy yet.");
    const std::string packs = Phrasing::count(packsCopied, "pack");
    switch (stage) {
    case Stage::preparing:
    case Stage::copyingPacks:
        if (packsCopied == 0)
            return WM_L(
                "It had begun the copy but copied no pack yet, and the copy's list of backups was left as it was.");
        return WM_L("It had copied %@, but the copy's list of backups was left as it was.", packs);
    case Stage::copyingRecords:
        if (filesPut == filesPutBeforeRecords)
            return WM_L("It had copied %@, but the copy's list of backups was left as it was.", packs);
        return WM_L(
            "It had copied %@ and some of the records the copy lacked, but the copy's list of backups was left "
            "as it was.",
            packs);
    case Stage::movingHead:
    case Stage::finishing: break;
    }
    if (headMoved)
        return WM_L(
            "It had copied %@ and the records the copy lacked, and the copy's list of backups now matches this "
            "backup's.",
            packs);
    return WM_L("It had copied %@ and the records the copy lacked, but the copy's list of backups was left as it was.",
                packs);
}

bool Replicator::checkTarget(const RepositoryID& source, Destination& target) {
    if (target.exists(RepositoryLayout::configFile())) {
        const RepositoryID found = repositoryIDOf(target);
        if (found != source) throw Error::foreignRepository(source, found);
        return true;
    }
    if (holdsRepositoryParts(target)) throw Error::configMissing(source);
    return false;
}

Bytes Replicator::digest(const std::unordered_set<PackID>& packs) { return identityDigest(packs); }

void Replicator::copyMissingFiles(Run& run, const RepoPath& folder, std::int64_t limit,
                                  const std::function<void(ByteView)>& check) {
    Destination& from = run.from;
    Destination& to = run.target;
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
        if (const auto bytes = from.readAtMost(path, limit)) run.put(*bytes, path);
    }
}

void Replicator::copyChangedFiles(Run& run, const RepoPath& folder, std::int64_t limit,
                                  const std::function<void(ByteView)>& check) {
    for (const auto& path : run.from.list(folder)) {
        if (path.isRoot()) continue;
        const auto bytes = run.from.readAtMost(path, limit);
        if (bytes && accepts(check, *bytes)) copyIfChanged(run, *bytes, path);
    }
}

void Replicator::copyIfChanged(Run& run, ByteView bytes, const RepoPath& path) {
    try {
        const auto existing = run.target.readAtMost(path, RepositoryFormat::signedRecordMaximumBytes);
        if (existing && std::equal(existing->begin(), existing->end(), bytes.begin(), bytes.end())) return;
    } catch (const std::exception&) {
        // Not readable there: written anew.
    }
    run.put(bytes, path);
}

// --- replicate ---

void Replicator::settle(Run& run) {
    run.configBytes = readConfigFile(run.from);
    run.sourceID = *RepositoryID::fromBytes(RepositoryConfig::decode(run.configBytes).repositoryID);
    if (run.keys.repositoryID != run.sourceID) throw KeyFile::Error::wrongKey();
    run.headBefore = readSignedRecord(run.from, RepositoryLayout::head());
    run.sourceHead = SignedFile::open<HeadRecord>(run.headBefore, run.keys, run.cipher);
    run.targetHasConfig = checkTarget(run.sourceID, run.target);
    run.replicated = listedByReplicaStates(run.target, run.keys, run.cipher);
}

void Replicator::prepareTarget(Run& run) {
    Destination& target = run.target;
    // What an earlier run left half written, only in a copy of this repository: in a folder
    // that holds none yet, "tmp" is the owner's. Nothing that stays fails the run.
    if (run.targetHasConfig) target.discardPendingWrites([&run] { run.confirmHeld(); });
    if (!run.targetHasConfig) run.put(run.configBytes, RepositoryLayout::configFile());
    if (!target.exists(RepositoryLayout::head())) {
        const HeadRecord placeholder(0, {}, run.start, Bytes(16, 0));
        run.put(SignedFile::seal(placeholder, run.keys, run.cipher), RepositoryLayout::head());
    }
    // A key file that differs from the source's stays; one that does not decode is replaced.
    copyMissingFiles(run, RepositoryLayout::keysDirectory(), RepositoryFormat::keyFileMaximumBytes,
                     [](ByteView bytes) { KeyFile::decode(bytes); });
}

void Replicator::copyPacks(Run& run, ReplicationReport& report) {
    Destination& from = run.from;
    Destination& target = run.target;
    // Both sides indexed from the packs themselves; a pack that does not validate holds nothing.
    // Packs are read and checked in parallel; every result is the same as one at a time.
    WorkerPool pool(PackStore::sealingWidth(activeProcessorCount()));
    std::unordered_map<PackID, RepoPath> sourcePaths;
    indexCheckedPacks(from, run.source.cipher(), run.sourceIndex, &sourcePaths);
    indexCheckedPacks(target, run.cipher, run.targetIndex);

    // A pack file on the source that does not validate (or has gone) leaves its blobs out of the
    // source index, so nothing asks for them: a blob the repository's own index knows that
    // neither side can supply is missing from the copy, which is then not current.
    run.source.withIndex([&](const CompactIndex& known) {
        known.forEach([&](const BlobID& id, const CompactIndex::Location&) {
            if (!run.blobsMissingFromCopy && !run.sourceIndex.contains(id) && !run.targetIndex.contains(id))
                run.blobsMissingFromCopy = true;
        });
    });

    std::unordered_set<PackID> wanted;
    run.sourceIndex.forEach([&](const BlobID& id, const CompactIndex::Location& location) {
        if (!run.targetIndex.contains(id)) wanted.insert(location.pack);
    });
    run.packsWanted = wanted.size();
    std::vector<PackID> order(wanted.begin(), wanted.end());
    std::sort(order.begin(), order.end(), [](const PackID& a, const PackID& b) { return a.bytes < b.bytes; });

    // Written one after another in copy order, the next ones read meanwhile; read from where
    // each was found, written where it belongs.
    std::vector<std::int64_t> sizes(order.size());
    orderedPipeline<Bytes>(
        pool, order.size(), 2, [&](std::size_t k) { return from.read(sourcePaths.at(order[k])); },
        [&](std::size_t k, Bytes&& bytes) {
            run.put(bytes, RepositoryLayout::pack(order[k]));
            ++run.packsCopied;
            sizes[k] = static_cast<std::int64_t>(bytes.size());
        });
    // Every written pack read back from the target and checked against its name.
    run.copyIndex = run.targetIndex;
    using Directory = std::optional<std::vector<PackFile::Entry>>;
    orderedPipeline<Directory>(
        pool, order.size(), static_cast<std::size_t>(pool.width()) * 2,
        [&](std::size_t k) -> Directory {
            try {
                return PackVerifier(run.cipher).check(target, RepositoryLayout::pack(order[k]), order[k]);
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
            run.copied.insert(order[k]);
            run.copyIndex.merge(IndexFile::Section{order[k], std::move(*entries)});
        });
    run.packsCopied = report.packsCopied;  // those that read back whole
}

void Replicator::copyRecords(Run& run) {
    const BlobCipher& cipher = run.cipher;
    copyMissingFiles(run, RepositoryLayout::indexDirectory(), largestIndexFileBytes,
                     [&](ByteView bytes) { IndexFile::decode(cipher.openMetadata(bytes)); });
    copyMissingFiles(run, RepositoryLayout::snapshotsDirectory(), RepositoryFormat::signedRecordMaximumBytes,
                     opensAs<SnapshotRecord>(run.keys, cipher));
    // Holds and the retention setting pass only as the signed records they claim to be.
    copyChangedFiles(run, RepositoryLayout::holdsDirectory(), RepositoryFormat::signedRecordMaximumBytes,
                     opensAs<HoldRecord>(run.keys, cipher));
    std::optional<Bytes> retention;
    try {
        retention =
            run.from.readAtMost(RepositoryLayout::retentionSetting(), RepositoryFormat::signedRecordMaximumBytes);
    } catch (const std::exception&) {
    }
    if (retention && accepts(opensAs<RetentionRecord>(run.keys, cipher), *retention))
        copyIfChanged(run, *retention, RepositoryLayout::retentionSetting());
}

HeadRecord Replicator::advanceHead(Run& run, ReplicationReport& report) {
    // Trees are opened with the repository's own sealing.
    std::vector<SnapshotID> listed;
    for (const auto& id : run.sourceHead->snapshots) listed.push_back(SnapshotID{id});
    report.snapshotsNotWhole =
        findSnapshotNeeds(run.target, listed, run.keys, run.source.cipher(), {{run.target, run.copyIndex}}).notWhole;
    run.headMayMove = report.failedObjects.empty() && report.snapshotsNotWhole.empty();
    std::optional<HeadRecord> targetHead;
    try {
        targetHead =
            SignedFile::open<HeadRecord>(readSignedRecord(run.target, RepositoryLayout::head()), run.keys, run.cipher);
    } catch (const std::exception&) {
        if (!run.headMayMove) throw;
    }
    run.targetAhead = targetHead && targetHead->counter > run.sourceHead->counter;
    if (!run.headMayMove || run.targetAhead) return *targetHead;
    run.put(run.headBefore, RepositoryLayout::head());
    run.headMoved = true;
    return *run.sourceHead;
}

void Replicator::writeReplicaState(Run& run, const HeadRecord& held) {
    std::unordered_set<PackID> present = run.targetIndex.packs();
    present.insert(run.copied.begin(), run.copied.end());
    const DestinationCapabilities capabilities = run.target.capabilities();
    ReplicaStateRecord state;
    state.replicaID = run.target.id().value;
    state.kind = ReplicaStateRecord::rawValue(run.target.kind());
    state.lastSyncAt = run.start;
    // Only what this run knows a replication put there: the source's head as read, or what a
    // replica state listed before this run wrote. Under a held lock that is the whole head; a
    // backup another writer made into the copy meanwhile is never vouched for as copied.
    std::unordered_set<UUID> vouched(run.sourceHead->snapshots.begin(), run.sourceHead->snapshots.end());
    vouched.insert(run.replicated.begin(), run.replicated.end());
    for (const auto& id : held.snapshots)
        if (vouched.count(id) != 0) state.holdsSnapshots.push_back(id);
    state.holdsPacksDigest = digest(present);
    state.durability = capabilities.remoteVerification ? "verified" : "writtenLocally";
    if (capabilities.remoteVerification) state.lastVerifiedAt = run.start;
    run.put(SignedFile::seal(state, run.keys, run.cipher), RepositoryLayout::replicaState(run.target.id()));
}

ReplicationReport Replicator::replicate(const Repository& source, Destination& target, const RepositoryKeys& keys,
                                        const std::function<void()>& check) {
    std::lock_guard running(running_);
    Run run{source, *source.destination(), target, keys, check};
    // Everything that can refuse the run is settled before the first write to the target, and
    // a copy holding backups made into it is left as it is.
    settle(run);
    ReplicationReport report;
    report.madeIntoCopy = backupsMadeInto(target, *run.sourceHead, run.replicated, keys, run.cipher);
    if (!report.madeIntoCopy.empty()) return report;
    bool unchanged = false;
    try {
        prepareTarget(run);
        run.stage = Run::Stage::copyingPacks;
        copyPacks(run, report);
        run.stage = Run::Stage::copyingRecords;
        run.filesPutBeforeRecords = run.filesPut;
        copyRecords(run);
        // The head moves only when every snapshot it lists reads whole from the copy, and never
        // back past a newer one.
        run.stage = Run::Stage::movingHead;
        const HeadRecord held = advanceHead(run, report);
        run.stage = Run::Stage::finishing;
        writeReplicaState(run, held);

        try {
            unchanged = readSignedRecord(run.from, RepositoryLayout::head()) == run.headBefore;
        } catch (const std::exception&) {
        }
        Repository::writeReadMe(target, source.appVersion(), check);
    } catch (WritingLockLost& lost) {
        lost.alreadyDone = run.done();
        throw;
    }

    report.packsAlreadyPresent = static_cast<std::int64_t>(run.sourceIndex.packs().size() - run.packsWanted);
    report.sourceAdvancedDuringRun = !unchanged;
    report.isCurrent = run.headMayMove && unchanged && !run.targetAhead && !run.blobsMissingFromCopy;
    return report;
}

Replicator::RepairResult Replicator::repair(const std::vector<PackID>& packs, Destination& from, Destination& into,
                                            const RepositoryKeys& keys, const std::function<void()>& check) {
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
        try {
            Repository::write(bytes, path, into, check);
        } catch (WritingLockLost& lost) {
            // Stopped before its first pack, the repair had changed nothing: the lock's own sentence says so.
            if (!result.repaired.empty())
                lost.alreadyDone = WM_L("It had put back %@.", Phrasing::count(std::ssize(result.repaired), "pack"));
            throw;
        }
        result.repaired.push_back(pack);
    }
    return result;
}

// --- inspect ---

std::int64_t Replicator::pendingBytes(Destination& destination, const Repository& primary, const BlobCipher& cipher) {
    Destination& primaryDestination = *primary.destination();
    WorkerPool pool(PackStore::sealingWidth(activeProcessorCount()));
    CompactIndex primaryIndex;
    try {
        indexPacks(primaryDestination, primary.cipher(), primaryIndex, {}, nullptr, &pool);
    } catch (const std::exception&) {
        throw PrimaryFailure{std::current_exception()};
    }
    CompactIndex copyIndex;
    try {
        copyIndex = indexCheckedPacks(destination, cipher);
    } catch (const std::exception&) {
        copyIndex = CompactIndex();  // unreadable: every pack counts as still to copy
    }
    const auto present = copyIndex.packs();
    std::int64_t total = 0;
    for (const auto& pack : primaryIndex.packs()) {
        if (present.count(pack) != 0) continue;
        try {
            const auto size = primaryDestination.size(RepositoryLayout::pack(pack));
            if (size && *size > 0) total = saturatingAdd(total, *size);
        } catch (const std::exception&) {
        }
    }
    return total;
}

DestinationStatus Replicator::inspect(Destination& destination, const Repository& primary, const RepositoryKeys& keys) {
    std::lock_guard running(running_);
    const BlobCipher cipher(keys, BlobCipher::Sealing::nonceFromStoredBytes);
    try {
        if (!destination.exists(RepositoryLayout::configFile())) return DestinationStatus::empty();
        const RepositoryConfig config = RepositoryConfig::decode(readConfigFile(destination));
        const RepositoryID found = *RepositoryID::fromBytes(config.repositoryID);
        if (found != keys.repositoryID) return DestinationStatus::foreignRepository(found);

        const auto primaryIDs = primary.snapshotIDs();
        if (!destination.exists(RepositoryLayout::head())) {
            return DestinationStatus::behind(static_cast<std::int64_t>(primaryIDs.size()),
                                             pendingBytes(destination, primary, cipher), std::nullopt);
        }
        const HeadRecord head =
            SignedFile::open<HeadRecord>(readSignedRecord(destination, RepositoryLayout::head()), keys, cipher);
        std::unordered_set<UUID> ours;
        for (const auto& id : primaryIDs) ours.insert(id.value);
        const std::unordered_set<UUID> theirs(head.snapshots.begin(), head.snapshots.end());
        std::int64_t missing = 0;
        std::int64_t extra = 0;
        for (const auto& id : ours) missing += theirs.count(id) == 0 ? 1 : 0;
        for (const auto& id : theirs) extra += ours.count(id) == 0 ? 1 : 0;
        const std::optional<Date> last =
            head.snapshots.empty() ? std::nullopt : createdAt(destination, head.snapshots.back(), keys, cipher);

        if (extra > 0) return DestinationStatus::ahead(extra);
        if (missing > 0) return DestinationStatus::behind(missing, pendingBytes(destination, primary, cipher), last);
        return DestinationStatus::current(static_cast<std::int64_t>(theirs.size()), last);
    } catch (const PrimaryFailure& failure) {
        try {
            std::rethrow_exception(failure.error);
        } catch (const std::exception& error) {
            return DestinationStatus::unreadable(RepositoryPresentation::sentence(error));
        }
    } catch (const DestinationError& error) {
        if (error.kind == DestinationError::Kind::unavailable)
            return DestinationStatus::notReachable(WM_L("not connected"));
        if (error.kind == DestinationError::Kind::notFound) return DestinationStatus::empty();
        return DestinationStatus::unreadable(RepositoryPresentation::sentence(error));
    } catch (const std::exception& error) {
        return DestinationStatus::unreadable(RepositoryPresentation::sentence(error));
    }
}

}  // namespace wm

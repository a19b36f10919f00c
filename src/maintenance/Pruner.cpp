#include "maintenance/Pruner.h"

#include <algorithm>

#include "core/ErrorDescription.h"
#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/RetentionEvaluator.h"
#include "core/Saturating.h"
#include "engine/Repository.h"
#include "engine/WritingLockErrors.h"
#include "format/HeadRecord.h"
#include "format/IndexFile.h"
#include "format/PackFile.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"
#include "maintenance/IdentityDigest.h"
#include "maintenance/IndexFiles.h"

namespace wm {

namespace J = RepositoryJSON;

// --- errors ---

Pruner::Error Pruner::Error::stillCooling(Date until) {
    Error e(Kind::stillCooling, ErrorDescription("Pruner.Error", "stillCooling").add("until", J::dateText(until)));
    e.until = until;
    return e;
}
Pruner::Error Pruner::Error::noMark() { return {Kind::noMark, "Pruner.Error.noMark"}; }
Pruner::Error Pruner::Error::reachableSetChanged() {
    return {Kind::reachableSetChanged, "Pruner.Error.reachableSetChanged"};
}
Pruner::Error Pruner::Error::markUnreadable() { return {Kind::markUnreadable, "Pruner.Error.markUnreadable"}; }
Pruner::Error Pruner::Error::indexIncomplete() { return {Kind::indexIncomplete, "Pruner.Error.indexIncomplete"}; }
Pruner::Error Pruner::Error::headMoved(std::string alreadyDone) {
    Error e(Kind::headMoved, ErrorDescription("Pruner.Error", "headMoved").quoted("alreadyDone", alreadyDone));
    e.alreadyDone = std::move(alreadyDone);
    return e;
}

namespace {

// Whether a refusal is storage-side retention keeping an object it may not delete yet.
bool isRetentionRefusal(const std::exception& error) {
    return std::string_view(error.what()).find("retention expires") != std::string_view::npos;
}

// Runs a reachability walk; any failure of it is the mark's being unreadable.
template <class Walk>
auto walking(Walk&& walk) {
    try {
        return walk();
    } catch (const std::exception&) {
        throw Pruner::Error::markUnreadable();
    }
}

// Whether the pack file's own directory lists any of the blobs. A file whose directory cannot
// be read or opened holds no blob anything here could read (and one larger than any pack is
// not read at all); a file the destination cannot read now may, so it counts as holding them.
bool holdsAnyOf(Destination& destination, const PackID& pack, std::int64_t size, const BlobCipher& cipher,
                const std::unordered_set<BlobID>& blobs) {
    constexpr std::int64_t trailer = RepositoryFormat::PackFile::trailerBytes;
    constexpr std::int64_t header = RepositoryFormat::PackFile::headerBytes;
    if (size < header + trailer || size > RepositoryFormat::packMaximumBytes) return false;
    const RepoPath path = RepositoryLayout::pack(pack);
    try {
        const Bytes end = destination.read(path, ByteRange{size - trailer, size});
        const auto& endMagic = RepositoryFormat::PackFile::endMagic;
        if (!std::equal(endMagic.begin(), endMagic.end(), end.begin() + 4)) return false;
        const std::int64_t length = static_cast<std::int64_t>(end[0]) | static_cast<std::int64_t>(end[1]) << 8 |
                                    static_cast<std::int64_t>(end[2]) << 16 | static_cast<std::int64_t>(end[3]) << 24;
        if (length + trailer + header > size) return false;
        const std::int64_t bodyEnd = size - trailer - length;
        const Bytes sealed = destination.read(path, ByteRange{bodyEnd, size - trailer});
        for (const auto& entry :
             PackFile::decodeDirectory(cipher.openMetadata(sealed), static_cast<std::uint64_t>(bodyEnd))) {
            if (blobs.count(entry.id) != 0) return true;
        }
        return false;
    } catch (const DestinationError&) {
        return true;
    } catch (const PackFile::Error&) {
    } catch (const BlobCipherError&) {
    }
    return false;
}

// The packs among `among` that an index file on the destination names.
std::unordered_set<PackID> packsNamedByIndexFiles(Destination& destination, const BlobCipher& cipher,
                                                  const std::unordered_set<PackID>& among) {
    std::unordered_set<PackID> named;
    forEachIndexFile(destination, cipher, [&](const std::vector<IndexFile::Section>& sections) {
        for (const auto& section : sections) {
            if (among.count(section.pack) != 0) named.insert(section.pack);
        }
        return true;
    });
    return named;
}

}  // namespace

Bytes Pruner::digest(const std::unordered_set<BlobID>& blobs) { return identityDigest(blobs); }

// --- mark ---

Pruner::MarkReport Pruner::mark(Repository& repository, const RetentionPolicy& policy,
                                const std::vector<RetentionHold>& holds, Date now) {
    std::lock_guard running(running_);
    // One listing each, those of one snapshot sharing it.
    const std::vector<std::shared_ptr<const Snapshot>> snapshots = repository.allSnapshots();
    std::optional<StoredSizes> sizes;
    if (policy.kind == RetentionPolicy::Kind::size) sizes = walking([&] { return repository.storedSizes(snapshots); });
    const auto retained = RetentionEvaluator::retained(snapshots, policy, holds, now, sizes);
    std::vector<UUID> prunable;
    for (const auto& s : snapshots) {
        if (retained.count(s->id) == 0) prunable.push_back(s->id.value);
    }
    // Walked from the roots of the records just read: each record is read once.
    std::vector<BlobID> roots;
    for (const auto& s : snapshots) {
        if (retained.count(s->id) != 0) roots.push_back(s->rootTree);
    }
    const auto reachable = walking([&] { return repository.reachableBlobs(roots); });

    std::unordered_set<PackID> live;
    repository.withIndex([&](const CompactIndex& index) {
        for (const auto& blob : reachable) {
            if (const auto location = index.location(blob)) live.insert(location->pack);
        }
    });
    std::vector<PackID> candidates;
    for (const auto& pack : repository.presentPackIDs()) {
        if (live.count(pack) == 0) candidates.push_back(pack);
    }
    std::int64_t candidateBytes = 0;
    for (const auto& pack : candidates) {
        try {
            const auto size = repository.destination()->size(RepositoryLayout::pack(pack));
            if (size && *size > 0) candidateBytes = saturatingAdd(candidateBytes, *size);
        } catch (const std::exception&) {
            // An unknown size counts nothing; the pack stays a candidate.
        }
    }

    Mark mark;
    mark.runID = UUID::random();
    // Whole milliseconds, rounded down: stored exactly, and never later than the moment given.
    mark.markedAt = now.wholeMillisecondsBefore();
    for (const auto& pack : candidates) mark.candidates.push_back(pack.data());
    mark.reachableDigest = digest(reachable);
    for (const auto& id : retained) mark.retainedSnapshots.push_back(id.value);
    mark.prunableSnapshots = prunable;
    const Bytes sealed = SignedFile::seal(mark, repository.keys(), repository.cipher());
    Repository::write(sealed, RepositoryLayout::gcMark(mark.runID), *repository.destination(),
                      [&] { repository.confirmWriting(); });
    std::int64_t marksRemoved = 0;
    try {
        repository.removeMarksOtherThan(mark.runID, marksRemoved);
    } catch (WritingLockLost& lost) {
        lost.alreadyDone = marksRemoved == 0 ? WM_L("It had written a new mark.")
                                             : WM_L("It had written a new mark and deleted %@.",
                                                    Phrasing::count(marksRemoved, "older mark"));
        throw;
    }

    MarkReport report;
    report.runID = mark.runID;
    report.candidatePacks = static_cast<std::int64_t>(candidates.size());
    report.candidateBytes = candidateBytes;
    report.retainedSnapshots = static_cast<std::int64_t>(retained.size());
    report.prunableSnapshots = static_cast<std::int64_t>(prunable.size());
    report.sweepAllowedFrom = mark.markedAt.adding(RepositoryFormat::pruneCoolingPeriod);
    return report;
}

// --- sweep ---

namespace {

// What a sweep has done so far, for the sentence of a stop between its steps.
struct Progress {
    std::int64_t marksRemoved = 0;       // older marks
    std::int64_t snapshotsDelisted = 0;  // taken out of the head
    std::int64_t recordsRemoved = 0;
    std::int64_t packsUnindexed = 0;  // left out of the rewritten index
    std::int64_t packsDeleted = 0;

    // "It had ..." as a whole sentence; empty when nothing was changed yet.
    std::string sentence() const {
        std::vector<std::string> done;
        if (marksRemoved > 0) done.push_back(WM_L("deleted %@", Phrasing::count(marksRemoved, "older mark")));
        if (snapshotsDelisted > 0)
            done.push_back(WM_L("taken %@ out of the list of backups", Phrasing::count(snapshotsDelisted, "snapshot")));
        if (recordsRemoved > 0) done.push_back(WM_L("deleted %@", Phrasing::count(recordsRemoved, "snapshot record")));
        if (packsUnindexed > 0)
            done.push_back(WM_L("rewritten the index without %@", Phrasing::count(packsUnindexed, "pack")));
        if (packsDeleted > 0) done.push_back(WM_L("deleted %@", Phrasing::count(packsDeleted, "pack")));
        return done.empty() ? "" : WM_L("It had %@.", Phrasing::list(done));
    }
};

// Runs one step of the sweep; a check that stops it there (the writing lock lost, the head
// moved by another writer) is told what the sweep had done by then.
template <class Step>
void step(const Progress& progress, Step&& body) {
    try {
        body();
    } catch (WritingLockLost& lost) {
        lost.alreadyDone = progress.sentence();
        throw;
    } catch (const Repository::Error& error) {
        if (error.kind != Repository::Error::Kind::headChanged) throw;
        throw Pruner::Error::headMoved(progress.sentence());
    }
}

// The newest mark, once its cooling period has passed and while the snapshots it keeps still
// reach exactly the blobs it recorded. Other marks go first, even when the sweep is too early.
Pruner::Mark cooledMark(Repository& repository, Date now, Progress& progress) {
    std::optional<Pruner::Mark> mark = repository.latestMark();
    if (!mark) throw Pruner::Error::noMark();
    step(progress, [&] { repository.removeMarksOtherThan(mark->runID, progress.marksRemoved); });

    const Date coolingEnd = mark->markedAt.adding(RepositoryFormat::pruneCoolingPeriod);
    if (now < coolingEnd) throw Pruner::Error::stillCooling(coolingEnd);

    std::unordered_set<SnapshotID> retained;
    for (const auto& id : mark->retainedSnapshots) retained.insert(SnapshotID{id});
    const auto reachable = walking([&] { return repository.reachableBlobs(retained); });
    if (Pruner::digest(reachable) != mark->reachableDigest) throw Pruner::Error::reachableSetChanged();
    return std::move(*mark);
}

// The snapshots the mark gives up, less those an active hold protects now (a hold placed
// since the mark counts). Each is read once, however often the mark lists it.
std::unordered_set<SnapshotID> givenUp(const Repository& repository, const Pruner::Mark& mark,
                                       const std::vector<RetentionHold>& holds) {
    std::unordered_set<SnapshotID> prunable;
    std::unordered_set<UUID> decided;
    for (const auto& id : mark.prunableSnapshots) {
        if (!decided.insert(id).second) continue;
        std::optional<SnapshotRecord> record;
        try {
            record = repository.snapshot(SnapshotID{id});
        } catch (const std::exception&) {
            // A record that no longer reads cannot be restored either: it stays given up.
        }
        const bool held = record && std::any_of(holds.begin(), holds.end(), [&](const RetentionHold& hold) {
                              return hold.isActive() && record->createdAt < hold.protectsSnapshotsBefore;
                          });
        if (!held) prunable.insert(SnapshotID{id});
    }
    return prunable;
}

// The head's snapshots that stay, and what they need.
struct Survivors {
    std::vector<SnapshotID> snapshots;  // in head order
    std::unordered_set<BlobID> blobs;
    std::unordered_set<PackID> packs;  // where the index locates the blobs
};

Survivors survivorsOf(const Repository& repository, const std::unordered_set<SnapshotID>& prunable) {
    Survivors survivors;
    std::unordered_set<SnapshotID> surviving;
    for (const auto& id : repository.snapshotIDs()) {
        if (prunable.count(id) != 0) continue;
        survivors.snapshots.push_back(id);
        surviving.insert(id);
    }
    survivors.blobs = walking([&] { return repository.reachableBlobs(surviving); });
    bool complete = true;
    repository.withIndex([&](const CompactIndex& index) {
        for (const auto& blob : survivors.blobs) {
            const auto location = index.location(blob);
            if (location)
                survivors.packs.insert(location->pack);
            else
                complete = false;
        }
    });
    // A blob that is needed but not located may lie in any candidate: delete nothing.
    if (!complete) throw Pruner::Error::indexIncomplete();
    return survivors;
}

// The head stops listing the given-up snapshots, then their records go.
void removeSnapshots(Repository& repository, const Repository::WritingGuard& writing, const Survivors& survivors,
                     const std::unordered_set<SnapshotID>& prunable, Date now, Progress& progress) {
    if (prunable.empty()) return;
    step(progress, [&] { repository.setHead(writing, survivors.snapshots, now); });
    progress.snapshotsDelisted = static_cast<std::int64_t>(prunable.size());
    step(progress, [&] { repository.checkHeadUnchanged(); });
    for (const auto& id : prunable) {
        step(progress, [&] { repository.confirmWriting(); });
        try {
            repository.destination()->remove(RepositoryLayout::snapshot(id));
            ++progress.recordsRemoved;
        } catch (const std::exception& error) {
            if (!isRetentionRefusal(error)) throw;
        }
    }
}

// The candidates no survivor needs, in the mark's order, with their sizes before removal.
struct DeleteList {
    std::vector<PackID> packs;
    std::unordered_set<PackID> set;
    std::unordered_map<PackID, std::int64_t> sizes;
};

DeleteList choosePacks(const Repository& repository, const Pruner::Mark& mark, const Survivors& survivors,
                       Pruner::SweepReport& report) {
    Destination& destination = *repository.destination();
    DeleteList doomed;
    for (const auto& bytes : mark.candidates) {
        const auto pack = PackID::fromBytes(bytes);
        if (!pack) continue;
        if (survivors.packs.count(*pack) != 0) {
            ++report.packsSpared;
            continue;
        }
        std::optional<std::int64_t> size;
        try {
            size = destination.size(RepositoryLayout::pack(*pack));
        } catch (const std::exception&) {
        }
        if (!size || *size <= 0 || doomed.set.count(*pack) != 0) continue;
        // The index may lie about where a blob lies: the pack's own directory decides.
        if (holdsAnyOf(destination, *pack, *size, repository.cipher(), survivors.blobs)) {
            ++report.packsSpared;
            continue;
        }
        doomed.set.insert(*pack);
        doomed.packs.push_back(*pack);
        doomed.sizes[*pack] = *size;
    }
    return doomed;
}

// The index stops naming the packs before any of them goes.
void removePacks(Repository& repository, const Repository::WritingGuard& writing, DeleteList doomed,
                 Pruner::SweepReport& report, Progress& progress) {
    if (doomed.packs.empty()) return;
    Destination& destination = *repository.destination();
    step(progress, [&] {
        repository.checkHeadUnchanged();
        repository.rewriteIndex(writing, doomed.set);
    });
    progress.packsUnindexed = static_cast<std::int64_t>(doomed.packs.size());
    // An index file this repository did not load (another writer's, or one written since it
    // opened) still names what it names: those packs stay.
    for (const auto& pack : packsNamedByIndexFiles(destination, repository.cipher(), doomed.set)) {
        doomed.set.erase(pack);
        ++report.packsSpared;
    }
    std::erase_if(doomed.packs, [&](const PackID& pack) { return doomed.set.count(pack) == 0; });
    for (const auto& pack : doomed.packs)
        report.bytesReclaimed = saturatingAdd(report.bytesReclaimed, doomed.sizes[pack]);
    step(progress, [&] { repository.checkHeadUnchanged(); });
    for (const auto& pack : doomed.packs) {
        step(progress, [&] { repository.confirmWriting(); });
        try {
            destination.remove(RepositoryLayout::pack(pack));
            ++report.packsDeleted;
            ++progress.packsDeleted;
        } catch (const std::exception& error) {
            if (!isRetentionRefusal(error)) throw;
            ++report.packsHeld;
        }
    }
}

}  // namespace

Pruner::SweepReport Pruner::sweep(Repository& repository, const RetentionPolicy&,
                                  const std::vector<RetentionHold>& holds, Date now) {
    std::lock_guard running(running_);
    Progress progress;
    const Mark mark = cooledMark(repository, now, progress);

    // From here on nothing else of this repository writes, and the state is the one on storage.
    // Another writer (another process) is kept out by the caller's lock; the head on storage
    // is read again before every step that replaces or deletes, and must be the one held here.
    const Repository::WritingGuard writing = repository.lockWriting();
    step(progress, [&] { repository.checkHeadUnchanged(); });
    const std::unordered_set<SnapshotID> prunable = givenUp(repository, mark, holds);
    const Survivors survivors = survivorsOf(repository, prunable);

    SweepReport report;
    report.snapshotsDeleted = static_cast<std::int64_t>(prunable.size());
    removeSnapshots(repository, writing, survivors, prunable, now, progress);
    removePacks(repository, writing, choosePacks(repository, mark, survivors, report), report, progress);
    step(progress, [&] { repository.confirmWriting(); });
    repository.destination()->remove(RepositoryLayout::gcMark(mark.runID));
    return report;
}

}  // namespace wm

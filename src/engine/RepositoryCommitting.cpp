// Making new content durable and visible: index files, snapshot records and the head.
// Every file lands whole at its path before any file that refers to it is written: packs,
// then the index file, then the snapshot record, then the head.
#include <algorithm>

#include "core/Localization.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "engine/WritingLockErrors.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm {

void Repository::flushPendingIndex() {
    std::vector<IndexFile::Section> sections;
    {
        std::shared_lock lock(stateMutex_);
        if (unflushedSections_.empty()) return;
        sections = unflushedSections_;
    }
    const Bytes sealed = cipher_.sealMetadata(IndexFile::encode(sections));
    const RepoPath path = RepositoryLayout::index(UUID::random());
    write(sealed, path, *destination_);

    std::unique_lock lock(stateMutex_);
    indexFiles_.insert(path.fileName());
    std::size_t written = 0;
    for (const auto& section : sections) written += section.entries.size();
    unflushedSections_.erase(unflushedSections_.begin(),
                             unflushedSections_.begin() + static_cast<std::ptrdiff_t>(sections.size()));
    unflushedEntryCount_ -= std::min(written, unflushedEntryCount_);
}

SnapshotID Repository::commit(const CommitRequest& request) {
    const auto& [rootTree, sources, stats, flags, deviceName, excludeRules, parent, now] = request;
    std::lock_guard writing(writerMutex_);
    // Writes the open pack and every pack still waiting: a snapshot may name only blobs
    // that are in written, verified packs.
    packs_->sealAndWrite();
    flushPendingIndex();

    const HeadRecord current = head();
    const UUID id = UUID::random();
    std::vector<UUID> listed = current.snapshots;
    listed.push_back(id);
    // Refuses a counter that cannot grow before anything is written.
    HeadRecord next = current.successor(std::move(listed), now, deviceID_.data());

    SnapshotRecord record;
    record.v = 2;
    record.id = id;
    record.counter = next.counter;
    record.deviceID = deviceID_.data();
    record.deviceName = deviceName;
    if (parent) record.parent = parent->value;
    record.createdAt = now;
    record.hostPlatform = hostPlatform();
    record.appVersion = appVersion_;
    for (const auto& source : sources) {
        record.sources.push_back(
            SnapshotRecord::Source{source.path, std::string(SnapshotSource::rawValue(source.kind))});
    }
    record.rootTree = rootTree.data();
    record.excludeRules = excludeRules;
    record.stats = stats;
    for (SnapshotFlag flag : flags) record.flags.emplace_back(rawValue(flag));
    std::sort(record.flags.begin(), record.flags.end());
    if (flags.count(SnapshotFlag::anomalyDetected) != 0) record.anomalyDetectedAt = now;

    // A writer that lost its lock stops before anything of the snapshot appears; the packs and
    // index file written so far stay for the next run to deduplicate against.
    const auto stopped = [](WritingLockLost& lost) {
        lost.alreadyDone = WM_L(
            "It had stored this backup's new data, which stays for the next run to reuse, but recorded no "
            "snapshot.");
    };
    const RepoPath recordPath = RepositoryLayout::snapshot(SnapshotID{id});
    try {
        write(SignedFile::seal(record, *keys_, cipher_), recordPath, *destination_, writingCheck_);
    } catch (WritingLockLost& lost) {
        stopped(lost);
        throw;
    }
    // The head this commit replaces must still be the one it read: a writer that moved it
    // meanwhile would lose its snapshot from the list. Checked as late as it can be, with the
    // new head's bytes pending and only the step that puts them into place still to come; the
    // lock too.
    try {
        write(SignedFile::seal(next, *keys_, cipher_), RepositoryLayout::head(), *destination_, [&] {
            try {
                confirmWriting();
                checkHeadUnchanged();
            } catch (const std::exception&) {
                // No head lists the record: it is taken back so that nothing of this run looks
                // like a snapshot.
                try {
                    destination_->remove(recordPath);
                } catch (const std::exception&) {
                }
                throw;
            }
        });
    } catch (WritingLockLost& lost) {
        stopped(lost);
        throw;
    }
    {
        std::unique_lock lock(stateMutex_);
        head_ = std::move(next);
    }
    writeReadMe(*destination_, appVersion_);
    return SnapshotID{id};
}

void Repository::refreshReadMe() { writeReadMe(*destination_, appVersion_); }

void Repository::discardUnflushedIndex() {
    std::lock_guard writing(writerMutex_);
    std::unique_lock lock(stateMutex_);
    unflushedSections_.clear();
    unflushedEntryCount_ = 0;
}

std::vector<IndexFile::Section> Repository::unflushedSections() const {
    std::shared_lock lock(stateMutex_);
    return unflushedSections_;
}

std::size_t Repository::unflushedEntryCount() const {
    std::shared_lock lock(stateMutex_);
    return unflushedEntryCount_;
}

}  // namespace wm

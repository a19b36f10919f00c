// What a sweep or a repair replaces in a repository, and the guards around it: the writing
// lock held from outside and its check, the check that the stored head is still the one held,
// the newest mark, and the head and index files, each written whole before it is adopted.
#include <exception>
#include <optional>
#include <string>

#include "engine/PrunerMark.h"
#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm {

Repository::WritingGuard Repository::lockWriting() { return WritingGuard(writerMutex_); }

void Repository::replaceHead(HeadRecord head) {
    std::unique_lock lock(stateMutex_);
    head_ = std::move(head);
}

void Repository::checkHeadUnchanged() const {
    const HeadRecord stored =
        SignedFile::open<HeadRecord>(readSignedRecord(*destination_, RepositoryLayout::head()), *keys_, cipher_);
    const HeadRecord held = head();
    if (stored.counter != held.counter || stored.snapshots != held.snapshots)
        throw Error::headChanged(held.counter, stored.counter);
}

std::optional<PrunerMark> Repository::latestMark() const {
    std::optional<PrunerMark> best;
    for (const RepoPath& path : destination_->list(RepositoryLayout::gcDirectory())) {
        if (path.isRoot() || !path.fileName().ends_with(RepositoryLayout::gcMarkEnding)) continue;
        try {
            PrunerMark mark = SignedFile::open<PrunerMark>(destination_->read(path), *keys_, cipher_);
            if (!best || mark.markedAt > best->markedAt) best = std::move(mark);
        } catch (const std::exception&) {
            // Unreadable or not a mark: passed over.
        }
    }
    return best;
}

void Repository::setHead(const WritingGuard& writing, const std::vector<SnapshotID>& snapshots, Date now) {
    if (writing.mutex() != &writerMutex_ || !writing.owns_lock()) std::terminate();
    std::vector<UUID> listed;
    listed.reserve(snapshots.size());
    for (const auto& id : snapshots) listed.push_back(id.value);
    HeadRecord next = head().successor(std::move(listed), now, deviceID_.data());
    // As late as the commit checks: the new head's bytes written, only putting them in place
    // still to come.
    write(SignedFile::seal(next, *keys_, cipher_), RepositoryLayout::head(), *destination_, [this] {
        confirmWriting();
        checkHeadUnchanged();
    });
    replaceHead(std::move(next));
}

void Repository::rewriteIndex(const WritingGuard& writing, const std::unordered_set<PackID>& excluding) {
    if (writing.mutex() != &writerMutex_ || !writing.owns_lock()) std::terminate();
    std::vector<IndexFile::Section> sections;
    std::unordered_set<std::string> replaced;
    {
        std::shared_lock lock(stateMutex_);
        std::unordered_map<PackID, std::size_t> sectionOf;
        index_.forEach([&](const BlobID&, const CompactIndex::Location& location) {
            if (excluding.count(location.pack) != 0) return;
            auto [it, added] = sectionOf.try_emplace(location.pack, sections.size());
            if (added) sections.push_back(IndexFile::Section{location.pack, {}});
            sections[it->second].entries.push_back(location.entry);
        });
        replaced = indexFiles_;
    }

    std::vector<RepoPath> old;
    for (auto& path : destination_->list(RepositoryLayout::indexDirectory())) {
        if (!path.isRoot() && path.fileName().ends_with(RepositoryLayout::indexEnding) &&
            replaced.count(path.fileName()) != 0)
            old.push_back(std::move(path));
    }
    const RepoPath written = RepositoryLayout::index(UUID::random());
    write(cipher_.sealMetadata(IndexFile::encode(sections)), written, *destination_, writingCheck_);
    {
        // From here the new file holds every entry: should a removal fail, the files not yet
        // removed are still ours to replace next time.
        std::unique_lock lock(stateMutex_);
        indexFiles_.insert(written.fileName());
    }
    for (const RepoPath& path : old) {
        destination_->remove(path);
        std::unique_lock lock(stateMutex_);
        indexFiles_.erase(path.fileName());
    }

    CompactIndex fresh(sections);
    std::unique_lock lock(stateMutex_);
    index_ = std::move(fresh);
    unflushedSections_.clear();
    unflushedEntryCount_ = 0;
    indexFiles_ = {written.fileName()};
}

void Repository::addIndexFile(const std::vector<IndexFile::Section>& sections) {
    std::lock_guard writing(writerMutex_);
    const RepoPath path = RepositoryLayout::index(UUID::random());
    write(cipher_.sealMetadata(IndexFile::encode(sections)), path, *destination_, writingCheck_);
    std::unique_lock lock(stateMutex_);
    index_.merge(sections);
    indexFiles_.insert(path.fileName());
}

}  // namespace wm

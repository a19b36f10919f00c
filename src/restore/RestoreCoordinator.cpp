#include "restore/RestoreCoordinator.h"

#include <algorithm>
#include <filesystem>

#include "core/ErrorDescription.h"
#include "core/Localization.h"
#include "core/Saturating.h"
#include "core/Unicode.h"
#include "format/RepositoryPresentation.h"
#include "fs/MetadataApply.h"
#include "restore/PathSafetyViolation.h"
#include "restore/RestoreWalk.h"

namespace wm {

namespace {

// Pops what an entry pushed onto the walk's paths, however the entry ends, unless the
// entry is a folder the walk enters.
struct PathGuard {
    std::vector<SafeName>& path;
    std::vector<std::string>& stringPath;
    bool kept = false;
    ~PathGuard() {
        if (kept) return;
        path.pop_back();
        stringPath.pop_back();
    }
};

}  // namespace

RestoreCoordinator::Error RestoreCoordinator::Error::destinationNotUsable(std::string reason) {
    Error e(Kind::destinationNotUsable, "destinationNotUsable(" + quotedText(reason) + ")");
    e.reason = std::move(reason);
    return e;
}

RestoreCoordinator::Error RestoreCoordinator::Error::snapshotHasNoRootTree() {
    return Error(Kind::snapshotHasNoRootTree, "snapshotHasNoRootTree");
}

std::string restoreErrorSentence(const std::exception& error) {
    // The restore's own failures are worded for the person reading the report, never as the
    // error's case name.
    if (const auto* e = dynamic_cast<const RestoreCoordinator::Error*>(&error)) {
        if (e->kind == RestoreCoordinator::Error::Kind::destinationNotUsable)
            return WM_L("This could not be put back as the backup records it: %@.", e->reason);
        return WM_L("This backup records nothing to put back.");
    }
    if (const auto* e = dynamic_cast<const MetadataApply::Error*>(&error))
        return WM_L("What was restored could not be reached again to put back its details: %@.", e->reason);
    std::string worded = RepositoryPresentation::sentence(error);
    // Where the presentation has no sentence of its own for an error of the backup's layers, it
    // appends the error's description, which names a type and a case: for developers, not for
    // the person. Such an error met while reading content means the backup is damaged there.
    if (dynamic_cast<const wm::Error*>(&error) && !dynamic_cast<const PathSafetyViolation*>(&error)) {
        const std::string_view description = error.what();
        if (!description.empty() && worded.ends_with(description))
            return WM_L("Part of the backup is damaged and could not be read.");
    }
    return worded;
}

RestoreCoordinator::Result RestoreCoordinator::restore(const SnapshotID& snapshot, RestoreBlobSource& source,
                                                       const std::filesystem::path& into,
                                                       const RestoreSelection& selection,
                                                       const std::optional<CheckedTarget>& checkedTarget) {
    std::lock_guard lock(mutex_);
    const RestoreBlobSource::Record record = source.record(snapshot);
    const std::optional<BlobID> rootTree = BlobID::fromBytes(record.rootTree);
    if (!rootTree) throw Error::snapshotHasNoRootTree();

    // The backup's folder as it is now: a folder made below the target later is never it.
    const std::optional<FolderIdentity> backup = backupFolder_ ? FolderIdentity::of(*backupFolder_) : std::nullopt;
    RestoreRoot root(RestoreRoot::openTarget(into, checkedTarget, backup), into, maxComponentCount, maxTotalPathBytes,
                     backup);
    Walk walk(*this, root, source, selection, record, uncounted_);
    // Whatever happens, the root's descriptor is closed when it goes out of scope.
    TreeWalk::run(*rootTree, walk);
    root.close();
    return std::move(walk.result);
}

std::uint64_t RestoreCoordinator::Walk::enteringLimit(std::uint64_t recordedDirectories) {
    return saturatingAdd(saturatingAdd(recordedDirectories, recordedDirectories), 1000);
}

std::uint64_t RestoreCoordinator::Walk::meetingLimitOf(const RestoreBlobSource::Record& record,
                                                       std::uint64_t uncounted) {
    const std::uint64_t chunks = record.bytesLogical / std::max<std::uint64_t>(record.smallestChunk, 1);
    const std::uint64_t counted = saturatingAdd(saturatingAdd(record.files, record.directories), chunks);
    return saturatingAdd(saturatingAdd(counted, counted), uncounted);
}

std::uint64_t RestoreCoordinator::Walk::uncountedIn(const TreeWalk::Entries& entries) {
    using T = TreeObject::EntryType;
    return static_cast<std::uint64_t>(std::count_if(entries.begin(), entries.end(), [](const TreeObject::Entry& e) {
        return e.entryType != T::file && e.entryType != T::directory;
    }));
}

TreeWalk::Step RestoreCoordinator::Walk::stop(const std::string& display, std::string reason) {
    result.failures.setStop({display, std::move(reason)});
    return TreeWalk::Step::stop;
}

std::string RestoreCoordinator::Walk::displayOf(const TreeObject::Entry& entry, bool& cut) const {
    // Below a cut folder, the path's first bytes are the folder's.
    cut = !folders.empty() && folders.back().displayCut;
    if (cut) return folders.back().display;
    std::string text = folders.empty() ? std::string() : folders.back().display;
    cut = (!folders.empty() && !Unicode::appendDecodedUTF8Within(text, viewOf("/"), Unicode::shownTextBytes)) ||
          !Unicode::appendDecodedUTF8Within(text, ByteView(entry.name), Unicode::shownTextBytes);
    return text;
}

std::vector<SafeName> RestoreCoordinator::Walk::Anchor::path() const {
    std::vector<SafeName> names{name};
    for (const PathNode* node = folder.get(); node; node = node->parent.get()) names.push_back(node->name);
    std::reverse(names.begin(), names.end());
    return names;
}

std::optional<TreeWalk::Entries> RestoreCoordinator::Walk::read(const BlobID& tree) {
    try {
        source.blob(tree, treeBuffer);
        TreeWalk::Entries entries = TreeObject::decode(treeBuffer);
        // The top tree, or the tree of the folder visit() has just entered: `entered` counts
        // that folder, so the record's count of folders tells whether it still allows for it.
        if (folders.empty() || entered <= recordedDirectories)
            meetingLimit = saturatingAdd(meetingLimit, uncountedIn(entries));
        return entries;
    } catch (const std::exception& e) {
        if (folders.empty()) throw;
        // The folder stays, counted, without its metadata.
        folders.back().unreadable = true;
        result.failures.push_back({folders.back().display, restoreErrorSentence(e)});
        return std::nullopt;
    }
}

TreeWalk::Step RestoreCoordinator::Walk::visit(const TreeObject::Entry& entry, const TreeWalk& walk) {
    using Step = TreeWalk::Step;
    bool displayCut = false;
    const std::string displayText = displayOf(entry, displayCut);

    met = saturatingAdd(saturatingAdd(met, 1), entry.contentBlobs ? entry.contentBlobs->size() : 0);
    if (met > meetingLimit)
        return stop(displayText, WM_L("the backup leads to more entries and pieces of content than the %@ its "
                                      "counts allow, so the restore stopped here",
                                      std::to_string(meetingLimit)));

    std::optional<SafeName> name;
    try {
        name.emplace(ByteView(entry.name));
    } catch (const PathSafetyViolation&) {
        result.failures.push_back({displayText, WM_L("that name is not safe to write to disk")});
        return Step::next;
    }
    path.push_back(std::move(*name));
    stringPath.push_back(stringOf(entry.name));
    PathGuard guard{path, stringPath};

    if (!selection.includes(stringPath)) return Step::next;
    if (entry.status == TreeObject::Status::unreadable) {
        result.skipped.push_back({displayText, WM_L("this file could not be read when the backup was made")});
        return Step::next;
    }
    if (auto special = RestoreRoot::specialFileOutcome(entry.entryType, path.back())) {
        result.skipped.push_back({displayText, special->reason()});
        return Step::next;
    }
    using T = TreeObject::EntryType;
    switch (entry.entryType) {
    case T::directory: {
        if (++entered > enteredLimit)
            return stop(displayText, WM_L("the backup leads into more folders than the %@ it counts, so the restore "
                                          "stopped here",
                                          std::to_string(recordedDirectories)));
        RestoreRoot::Folder opened;
        try {
            opened = root.ensureDirectoryExistsReturningDescriptor(path, directoryMode);
        } catch (const PathSafetyViolation& v) {
            result.failures.push_back({displayText, restoreErrorSentence(v)});
            return Step::next;
        }
        ++result.directoriesRestored;
        // A child tree already on the current path would lead the walk round in a circle.
        if (entry.childTree && walk.isOnPath(*entry.childTree)) {
            result.failures.push_back({displayText, WM_L("the backup lists this folder inside itself")});
            return Step::next;
        }
        auto node =
            std::make_shared<const PathNode>(PathNode{folders.empty() ? nullptr : folders.back().node, path.back()});
        folders.push_back({std::move(opened), displayText, displayCut, std::move(node)});
        guard.kept = true;  // its name stays on the path until leave()
        return Step::descend;
    }
    case T::file:
        if (!selection.wants(stringPath)) return Step::next;
        if (entry.hardlinkGroup) {
            auto anchor = hardLinkAnchors.find(*entry.hardlinkGroup);
            if (anchor != hardLinkAnchors.end()) {
                try {
                    root.createHardLink(path, anchor->second.path());
                    ++result.hardLinksRestored;
                } catch (const PathSafetyViolation& v) {
                    result.failures.push_back({displayText, restoreErrorSentence(v)});
                }
                return Step::next;
            }
        }
        try {
            coordinator.restoreFile(entry, displayText, *this);
        } catch (const std::exception& e) {
            result.failures.push_back({displayText, restoreErrorSentence(e)});
            return Step::next;
        }
        if (entry.hardlinkGroup)
            hardLinkAnchors.insert_or_assign(*entry.hardlinkGroup,
                                             Anchor{folders.empty() ? nullptr : folders.back().node, path.back()});
        ++result.filesRestored;
        break;
    case T::symlink:
        if (!selection.wants(stringPath)) return Step::next;
        coordinator.restoreSymlink(entry, displayText, *this);
        break;
    default: break;  // the special files, passed over above
    }
    return Step::next;
}

void RestoreCoordinator::Walk::leave(const TreeObject::Entry& entry, const TreeWalk&) {
    const EnteredFolder folder = std::move(folders.back());
    folders.pop_back();
    path.pop_back();
    stringPath.pop_back();
    if (folder.unreadable) return;
    // A folder that was there before is merged into and left as it was.
    if (!folder.opened.created) {
        result.unpreserved.push_back(
            {folder.display, "metadata", WM_L("this folder already existed and was left as it was")});
        return;
    }
    try {
        recordOutcomes(MetadataApply::apply(metadata(entry), folder.opened.descriptor.get(), outcomeBounds()),
                       folder.display, result);
    } catch (const std::exception& e) {
        result.unpreserved.push_back({folder.display, "metadata", restoreErrorSentence(e)});
    }
}

void RestoreCoordinator::restoreSymlink(const TreeObject::Entry& entry, const std::string& displayText, Walk& walk) {
    Result& result = walk.result;
    if (!entry.symlinkTarget) {
        result.failures.push_back({displayText, WM_L("the backup has no target for this link")});
        return;
    }
    UniqueFd parent;
    try {
        parent = walk.root.createSymlinkReturningParentDescriptor(walk.path, ByteView(*entry.symlinkTarget));
    } catch (const PathSafetyViolation& v) {
        result.failures.push_back({displayText, restoreErrorSentence(v)});
        return;
    }
    ++result.symlinksRestored;
    // The link itself, reached by (folder, name) without following it and without a text path.
    try {
        recordOutcomes(MetadataApply::apply(metadata(entry), parent.get(), walk.path.back().bytes(), outcomeBounds()),
                       displayText, result);
    } catch (const std::exception& e) {
        result.unpreserved.push_back({displayText, "metadata", restoreErrorSentence(e)});
    }
}

FileMetadata RestoreCoordinator::metadata(const TreeObject::Entry& entry) {
    using T = TreeObject::EntryType;
    using F = FileMetadata::FileType;
    FileMetadata m;
    switch (entry.entryType) {
    case T::file: m.fileType = F::regular; break;
    case T::directory: m.fileType = F::directory; break;
    case T::symlink: m.fileType = F::symlink; break;
    case T::fifo: m.fileType = F::fifo; break;
    case T::socket: m.fileType = F::socket; break;
    case T::characterDevice: m.fileType = F::characterDevice; break;
    case T::blockDevice: m.fileType = F::blockDevice; break;
    }
    m.mode = entry.mode;
    m.uid = entry.uid;
    m.gid = entry.gid;
    m.userName = entry.userName;
    m.groupName = entry.groupName;
    m.size = entry.size.value_or(0);
    m.modificationTime = entry.modificationTime;
    m.changeTime = entry.changeTime;
    m.birthTime = entry.birthTime;
    m.accessTime = std::nullopt;
    m.bsdFlags = entry.bsdFlags.value_or(0);
    if (entry.extendedAttributes) m.extendedAttributes = *entry.extendedAttributes;
    m.acl = entry.acl;
    m.symlinkTarget = entry.symlinkTarget;
    m.identity = {0, 0};
    m.linkCount = entry.hardlinkGroup ? 2 : 1;
    m.sparseRanges = entry.sparseRanges;
    return m;
}

MetadataApply::TextBounds RestoreCoordinator::outcomeBounds() {
    const std::size_t prefix = WM_L("partly applied: %@", "").size();
    return {Unicode::shownTextBytes, Unicode::shownTextBytes > prefix ? Unicode::shownTextBytes - prefix : 0};
}

void RestoreCoordinator::recordOutcomes(const MetadataApply::Report& report, const std::string& displayText,
                                        Result& result) {
    for (const auto& item : report.outcomes) {
        const std::string attribute = MetadataApply::rawValue(item.attribute);
        switch (item.outcome.kind) {
        case MetadataApply::Outcome::Kind::unpreserved:
            result.unpreserved.push_back({displayText, attribute, item.outcome.text});
            break;
        case MetadataApply::Outcome::Kind::partial:
            result.unpreserved.push_back({displayText, attribute, WM_L("partly applied: %@", item.outcome.text)});
            break;
        case MetadataApply::Outcome::Kind::applied:
        case MetadataApply::Outcome::Kind::notApplicable: break;
        }
    }
}

}  // namespace wm

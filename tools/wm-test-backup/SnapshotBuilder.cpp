#include "SnapshotBuilder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "core/SparseLayout.h"
#include "core/SystemCall.h"
#include "core/WorkerPool.h"
#include "engine/Repository.h"
#include "format/Chunker.h"
#include "restore/RestoreCoordinator.h"

namespace wm {

namespace {

TreeObject::EntryType entryType(FileMetadata::FileType type) {
    switch (type) {
    case FileMetadata::FileType::regular: return TreeObject::EntryType::file;
    case FileMetadata::FileType::directory: return TreeObject::EntryType::directory;
    case FileMetadata::FileType::symlink: return TreeObject::EntryType::symlink;
    case FileMetadata::FileType::fifo: return TreeObject::EntryType::fifo;
    case FileMetadata::FileType::socket: return TreeObject::EntryType::socket;
    case FileMetadata::FileType::characterDevice: return TreeObject::EntryType::characterDevice;
    case FileMetadata::FileType::blockDevice: return TreeObject::EntryType::blockDevice;
    }
    return TreeObject::EntryType::file;
}

// The tree entry of a captured file: its metadata only (the reverse of
// RestoreCoordinator::metadata). Parts a capture leaves empty stay absent from the entry;
// the size, content, child tree and hard-link group are the builder's.
TreeObject::Entry entryOf(const FileMetadata& m) {
    TreeObject::Entry entry;
    entry.entryType = entryType(m.fileType);
    entry.mode = m.mode;
    entry.uid = m.uid;
    entry.gid = m.gid;
    entry.modificationTime = m.modificationTime;
    entry.changeTime = m.changeTime;
    entry.birthTime = m.birthTime;
    if (m.bsdFlags != 0) entry.bsdFlags = m.bsdFlags;
    entry.userName = m.userName;
    entry.groupName = m.groupName;
    if (!m.extendedAttributes.empty()) entry.extendedAttributes = m.extendedAttributes;
    entry.acl = m.acl;
    if (m.sparseRanges && !m.sparseRanges->empty()) entry.sparseRanges = m.sparseRanges;
    return entry;
}

// Why an entry is not recorded when its `field` (as TreeObject::Error names it) is larger
// than an entry holds.
std::string whyNotRecorded(const std::string& field) {
    if (field == "name") return "its name is longer than a backup records (65,535 bytes)";
    if (field == "userName") return "its owner's name is longer than a backup records (65,535 bytes)";
    if (field == "groupName") return "its group's name is longer than a backup records (65,535 bytes)";
    if (field == "symlinkTarget") return "the target of the link is longer than a backup records (65,535 bytes)";
    if (field == "xattrs") return "it has more extended attributes than a backup records (65,535)";
    if (field == "xattr name")
        return "the name of one of its extended attributes is longer than a backup records (65,535 bytes)";
    if (field == "xattr value")
        return "one of its extended attributes is larger than a backup records (4,294,967,295 bytes)";
    if (field == "acl") return "its access control list is larger than a backup records (4,294,967,295 bytes)";
    if (field == "sparseRanges") return "it has more holes than a backup records (65,535)";
    if (field == "contentBlobs") return "its content has more pieces than a backup records (4,294,967,295)";
    return "a backup cannot record its " + field;
}

FileMetadata::Timestamp modificationTimeOf(const struct stat& st) {
    return FileMetadata::Timestamp{static_cast<std::int64_t>(st.st_mtim.tv_sec),
                                   static_cast<std::uint32_t>(st.st_mtim.tv_nsec)};
}

// Opens the file at `relative` below `folder` one component at a time, for a path longer
// than the system takes whole; no link is followed on the way. -1 and errno when it cannot.
UniqueFd openBelow(const std::string& folder, const std::string& relative) {
    UniqueFd at(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t start = 0; at.get() >= 0;) {
        const std::size_t slash = relative.find('/', start);
        const std::string name = relative.substr(start, slash - start);
        if (slash == std::string::npos)
            return UniqueFd(
                ::openat(at.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        at = UniqueFd(::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        start = slash + 1;
    }
    return at;
}

// The file data the readers may hold at once: each takes its share before it reads a file
// and gives it back after.
class ByteBudget {
public:
    explicit ByteBudget(std::size_t total) : left_(total) {}
    void take(std::size_t bytes) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return left_ >= bytes; });
        left_ -= bytes;
    }
    void giveBack(std::size_t bytes) {
        {
            std::lock_guard lock(mutex_);
            left_ += bytes;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t left_;
};

}  // namespace

SnapshotBuilder::SnapshotBuilder(Repository& repository, std::string folder, std::size_t bufferBytes, int readers)
    : repository_(repository),
      folder_(std::move(folder)),
      largestChunk_(static_cast<std::size_t>(repository.config().makeChunker().maxSize())),
      // At least one file's share: two largest chunks, so that every cut is decided on the
      // same bytes as when the file is cut in one piece.
      bufferBytes_(std::max(bufferBytes, 2 * largestChunk_)),
      readers_(readers > 0 ? readers : std::max(2, activeProcessorCount())) {}

void SnapshotBuilder::problem(const std::string& path, const std::string& reason) {
    problems_.push_back((path.empty() ? std::string(".") : path) + ": " + reason);
}

SnapshotBuilder::Result SnapshotBuilder::run(const std::string& deviceName) {
    const auto started = std::chrono::steady_clock::now();
    DirectoryScanner::Result scanned = DirectoryScanner::scan(folder_);
    for (const auto& p : scanned.problems) problem(p.path, p.reason);
    if (afterScan_) afterScan_(scanned.root);
    leaveOutWhatTheRestoreRefuses(scanned.root, {});

    std::vector<const DirectoryScanner::Entry*> files;
    collectFiles(scanned.root, files);
    storeContents(files);
    const BlobID root = storeTree(scanned.root);

    char resolved[PATH_MAX];
    const std::string sourcePath = ::realpath(folder_.c_str(), resolved) ? std::string(resolved) : folder_;
    std::optional<SnapshotID> parent;
    const auto existing = repository_.snapshotIDs();
    if (!existing.empty()) parent = existing.back();

    stats_.duration = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const SnapshotID id = repository_.commit({root,
                                              {SnapshotSource{bytesOf(sourcePath), SnapshotSource::Kind::folder}},
                                              stats_,
                                              {},
                                              deviceName,
                                              {},
                                              parent,
                                              Date::now().repositoryPrecision()});
    return Result{id, stats_, problems_};
}

void SnapshotBuilder::leaveOutWhatTheRestoreRefuses(DirectoryScanner::Entry& folder, RestoreRoot::PathMeasure path) {
    std::erase_if(folder.children, [&](DirectoryScanner::Entry& child) {
        const RestoreRoot::PathMeasure childPath = path.adding(child.name.size());
        try {
            RestoreCoordinator::checkPathLimits(childPath);
        } catch (const PathSafetyViolation& refusal) {
            problem(child.path, std::string("not backed up, as the restore would refuse it. ") + refusal.what());
            return true;
        }
        leaveOutWhatTheRestoreRefuses(child, childPath);
        return false;
    });
}

void SnapshotBuilder::collectFiles(const DirectoryScanner::Entry& folder,
                                   std::vector<const DirectoryScanner::Entry*>& files) {
    for (const auto& child : folder.children) {
        const FileMetadata& m = child.metadata;
        if (m.fileType == FileMetadata::FileType::directory) collectFiles(child, files);
        if (m.fileType != FileMetadata::FileType::regular || child.status == DirectoryScanner::Status::unreadable)
            continue;
        if (m.linkCount > 1 && !hardLinkReads_.emplace(m.identity, &child).second) continue;
        files.push_back(&child);
    }
}

void SnapshotBuilder::storeContents(const std::vector<const DirectoryScanner::Entry*>& files) {
    std::vector<Content> contents(files.size());
    ByteBudget budget(bufferBytes_);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex failureMutex;
    std::exception_ptr failure;
    auto read = [&] {
        while (!stop) {
            const std::size_t k = next++;
            if (k >= files.size()) return;
            const std::size_t share = std::min<std::size_t>(files[k]->metadata.size, 2 * largestChunk_);
            budget.take(share);
            try {
                contents[k] = readContent(*files[k], share);
            } catch (...) {
                std::lock_guard lock(failureMutex);
                if (!failure) failure = std::current_exception();
                stop = true;
            }
            budget.giveBack(share);
        }
    };
    std::vector<std::thread> readers;
    for (int r = 1; r < std::min<int>(readers_, static_cast<int>(files.size())); ++r) readers.emplace_back(read);
    read();
    for (auto& reader : readers) reader.join();
    if (failure) std::rethrow_exception(failure);
    for (std::size_t k = 0; k < files.size(); ++k) contents_.emplace(files[k], std::move(contents[k]));
}

BlobID SnapshotBuilder::storeTree(const DirectoryScanner::Entry& folder) {
    std::vector<TreeObject::Entry> entries;
    entries.reserve(folder.children.size());
    for (const auto& child : folder.children) {
        const SnapshotStats before = stats_;
        TreeObject::Entry entry = makeEntry(child);
        try {
            TreeObject::checkEncodable(entry);
        } catch (const TreeObject::Error& refusal) {
            if (refusal.kind != TreeObject::Error::Kind::fieldTooLarge) throw;
            problem(child.path, "not backed up, as " + whyNotRecorded(refusal.field));
            // The snapshot counts only the entries it holds; the bytes this run stored stay counted.
            SnapshotStats counted = before;
            counted.bytesNew = stats_.bytesNew;
            counted.bytesDeduplicated = stats_.bytesDeduplicated;
            stats_ = counted;
            continue;
        }
        entries.push_back(std::move(entry));
    }
    return repository_.store(TreeObject::encode(entries), BlobType::tree).id;
}

TreeObject::Entry SnapshotBuilder::makeEntry(const DirectoryScanner::Entry& source) {
    const FileMetadata& m = source.metadata;
    TreeObject::Entry entry = entryOf(m);
    entry.name = bytesOf(source.name);
    if (source.status == DirectoryScanner::Status::unreadable) entry.status = TreeObject::Status::unreadable;

    switch (m.fileType) {
    case FileMetadata::FileType::directory:
        ++stats_.directories;
        if (entry.status == TreeObject::Status::unreadable && !source.children.empty()) {
            // Read in part: what was listed is kept, the folder marked as changing.
            entry.status = TreeObject::Status::unstable;
        }
        if (entry.status != TreeObject::Status::unreadable) entry.childTree = storeTree(source);
        break;
    case FileMetadata::FileType::symlink:
        entry.symlinkTarget = m.symlinkTarget.value_or(Bytes{});
        entry.size = m.size;
        break;
    case FileMetadata::FileType::regular: {
        ++stats_.files;
        entry.size = m.size;
        if (m.linkCount > 1) {
            auto [it, inserted] = hardLinkGroups_.emplace(m.identity, hardLinkGroups_.size() + 1);
            entry.hardlinkGroup = it->second;
        }
        if (entry.status != TreeObject::Status::unreadable) {
            // The file read for this entry, or the member of its hard-link group that was.
            auto read = contents_.find(&source);
            const bool readHere = read != contents_.end();
            if (!readHere) read = contents_.find(hardLinkReads_.at(m.identity));
            const Content& content = read->second;
            if (readHere) {
                problems_.insert(problems_.end(), content.problems.begin(), content.problems.end());
                stats_.bytesNew += content.bytesNew;
                stats_.bytesDeduplicated += content.bytesDeduplicated;
            }
            entry.status = content.status;
            if (content.status != TreeObject::Status::unreadable) {
                // The shape of what was read, for every name of the file.
                entry.contentBlobs = content.blobs;
                entry.size = content.size;
                entry.sparseRanges.reset();
                if (!content.holes.empty()) entry.sparseRanges = content.holes;
            }
        }
        stats_.bytesLogical += *entry.size;
        break;
    }
    case FileMetadata::FileType::fifo:
    case FileMetadata::FileType::socket:
    case FileMetadata::FileType::characterDevice:
    case FileMetadata::FileType::blockDevice: break;
    }
    if (entry.status == TreeObject::Status::unreadable) ++stats_.unreadableFiles;
    if (entry.status == TreeObject::Status::unstable) ++stats_.unstableFiles;
    return entry;
}

SnapshotBuilder::Content SnapshotBuilder::readContent(const DirectoryScanner::Entry& source,
                                                      std::size_t bufferBytes) const {
    const FileMetadata& m = source.metadata;
    Content content;
    auto problem = [&](const std::string& reason) {
        content.problems.push_back((source.path.empty() ? std::string(".") : source.path) + ": " + reason);
    };
    auto unreadable = [&](const std::string& reason) {
        problem(reason);
        content.status = TreeObject::Status::unreadable;
        content.blobs.clear();
        return content;
    };
    const std::string path = folder_ + "/" + source.path;
    // Not blocking: a named pipe put in the file's place since the scan is not waited on.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0 && errno == ENAMETOOLONG) fd = openBelow(folder_, source.path);
    struct stat before {};
    if (fd.get() < 0 || ::fstat(fd.get(), &before) != 0)
        return unreadable("the file could not be opened: " + systemErrorText(errno));
    if (!S_ISREG(before.st_mode)) return unreadable("the file could not be read: it is no longer a regular file");
    bool changed = static_cast<std::uint64_t>(before.st_ino) != m.identity.inode ||
                   static_cast<std::uint64_t>(before.st_size) != m.size ||
                   modificationTimeOf(before) != m.modificationTime;

    const std::vector<SparseLayout::Region> holes = m.sparseRanges.value_or(std::vector<SparseLayout::Region>{});
    // Not cleared: only the bytes read are touched, so a small file costs only its size.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[std::max<std::size_t>(bufferBytes, 1)]);
    std::size_t filled = 0;
    const Chunker chunker = repository_.config().makeChunker();
    // Cuts the buffered bytes into chunks and stores them; keeps a tail shorter than the
    // largest chunk unless this is the end of the file.
    auto store = [&](bool endOfFile) {
        std::vector<ByteView> chunks;
        std::size_t position = 0;
        while (position < filled) {
            const std::size_t remaining = filled - position;
            // A cut needs up to one largest chunk of bytes ahead; short of that, wait for more.
            if (!endOfFile && remaining < largestChunk_) break;
            const ByteView rest(buffer.get() + position, remaining);
            const auto length = static_cast<std::size_t>(chunker.nextBoundary(rest));
            chunks.push_back(rest.first(length));
            position += length;
        }
        const auto stored = repository_.storeChunks(std::span<const ByteView>(chunks), BlobType::data);
        for (std::size_t i = 0; i < stored.size(); ++i) {
            content.blobs.push_back(stored[i].id);
            (stored[i].isNew ? content.bytesNew : content.bytesDeduplicated) += chunks[i].size();
        }
        std::memmove(buffer.get(), buffer.get() + position, filled - position);
        filled -= position;
    };
    // Reading stops at the first short read: the file ends there now, and a later region read
    // on would land in the content where this one's missing bytes belong.
    std::optional<std::uint64_t> ended;
    for (const auto& region : SparseLayout::dataRegions(m.size, holes)) {
        std::uint64_t offset = region.offset;
        const std::uint64_t end = region.end();
        while (offset < end && !ended) {
            const std::size_t room = bufferBytes - filled;
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(room, end - offset));
            if (beforeEachRead_) beforeEachRead_(source.path, offset);
            const ssize_t got = ::pread(fd.get(), buffer.get() + filled, want, static_cast<off_t>(offset));
            if (got < 0) {
                if (errno == EINTR) continue;
                return unreadable("the file could not be read: " + systemErrorText(errno));
            }
            filled += static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
            if (filled == bufferBytes) store(false);
            if (static_cast<std::size_t>(got) < want) ended = offset;  // shorter than when it was examined
        }
        if (ended) break;
    }
    store(true);
    // A file found shorter ends where reading ended, with only the holes before that.
    content.size = ended.value_or(m.size);
    for (const auto& hole : holes)
        if (hole.offset < content.size)
            content.holes.push_back({hole.offset, std::min(hole.length, content.size - hole.offset)});
    if (ended) changed = true;

    struct stat after {};
    if (::fstat(fd.get(), &after) != 0 || after.st_size != before.st_size ||
        modificationTimeOf(after) != modificationTimeOf(before))
        changed = true;
    if (changed) {
        problem("the file changed while it was read");
        content.status = TreeObject::Status::unstable;
    }
    return content;
}

}  // namespace wm

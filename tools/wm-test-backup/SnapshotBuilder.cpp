#include "SnapshotBuilder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "core/SparseLayout.h"

namespace wm {

namespace {

TreeObject::Timestamp timestamp(const FileMetadata::Timestamp& t) {
    return TreeObject::Timestamp{t.seconds, t.nanoseconds};
}

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

std::string systemText(int errorNumber) { return std::system_category().message(errorNumber); }

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

FileMetadata::Timestamp modificationTimeOf(const struct stat& st) {
    return FileMetadata::Timestamp{static_cast<std::int64_t>(st.st_mtim.tv_sec),
                                   static_cast<std::uint32_t>(st.st_mtim.tv_nsec)};
}

}  // namespace

SnapshotBuilder::SnapshotBuilder(Repository& repository, std::string folder, std::size_t bufferBytes)
    : repository_(repository), folder_(std::move(folder)), chunker_(repository.config().makeChunker()) {
    // The buffer must hold at least one largest chunk so that every cut is decided on the
    // same bytes as when the file is cut in one piece.
    const auto largest = static_cast<std::size_t>(chunker_.maxSize());
    buffer_.resize(std::max(bufferBytes / 2, 2 * largest));
    spare_.resize(buffer_.size());
}

SnapshotBuilder::~SnapshotBuilder() {
    // A batch still being stored reads from spare_: let it end before the buffers go.
    if (storing_) storing_->stored.wait();
}

void SnapshotBuilder::problem(const std::string& path, const std::string& reason) {
    problems_.push_back((path.empty() ? std::string(".") : path) + ": " + reason);
}

SnapshotBuilder::Result SnapshotBuilder::run(const std::string& deviceName) {
    const auto started = std::chrono::steady_clock::now();
    const DirectoryScanner::Result scanned = DirectoryScanner::scan(folder_);
    for (const auto& p : scanned.problems) problem(p.path, p.reason);

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

BlobID SnapshotBuilder::storeTree(const DirectoryScanner::Entry& folder) {
    std::vector<TreeObject::Entry> entries;
    entries.reserve(folder.children.size());
    for (const auto& child : folder.children) entries.push_back(makeEntry(child));
    return repository_.store(TreeObject::encode(entries), BlobType::tree).id;
}

TreeObject::Entry SnapshotBuilder::makeEntry(const DirectoryScanner::Entry& source) {
    const FileMetadata& m = source.metadata;
    TreeObject::Entry entry;
    entry.name = bytesOf(source.name);
    entry.entryType = entryType(m.fileType);
    entry.status =
        source.status == DirectoryScanner::Status::unreadable ? TreeObject::Status::unreadable : TreeObject::Status::ok;
    entry.mode = m.mode;
    entry.uid = m.uid;
    entry.gid = m.gid;
    entry.modificationTime = timestamp(m.modificationTime);
    entry.changeTime = timestamp(m.changeTime);
    if (m.birthTime) entry.birthTime = timestamp(*m.birthTime);
    if (m.bsdFlags != 0) entry.bsdFlags = m.bsdFlags;
    entry.userName = m.userName;
    entry.groupName = m.groupName;
    if (!m.extendedAttributes.empty()) {
        std::vector<TreeObject::ExtendedAttribute> attributes;
        for (const auto& a : m.extendedAttributes) attributes.push_back(TreeObject::ExtendedAttribute{a.name, a.value});
        entry.extendedAttributes = std::move(attributes);
    }
    entry.acl = m.acl;

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
        stats_.bytesLogical += m.size;
        entry.size = m.size;
        if (m.sparseRanges && !m.sparseRanges->empty()) {
            std::vector<TreeObject::SparseRange> holes;
            for (const auto& h : *m.sparseRanges) holes.push_back(TreeObject::SparseRange{h.offset, h.length});
            entry.sparseRanges = std::move(holes);
        }
        if (m.linkCount > 1) {
            auto [it, inserted] = hardLinkGroups_.emplace(m.identity, hardLinkGroups_.size() + 1);
            entry.hardlinkGroup = it->second;
        }
        if (entry.status == TreeObject::Status::unreadable) break;
        Content content;
        const auto cached = hardLinkContents_.find(m.identity);
        if (m.linkCount > 1 && cached != hardLinkContents_.end()) {
            content = cached->second;
        } else {
            content = readContent(source);
            if (m.linkCount > 1) hardLinkContents_[m.identity] = content;
        }
        entry.status = content.status;
        if (content.status != TreeObject::Status::unreadable) entry.contentBlobs = std::move(content.blobs);
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

SnapshotBuilder::Content SnapshotBuilder::readContent(const DirectoryScanner::Entry& source) {
    const FileMetadata& m = source.metadata;
    Content content;
    const std::string path = folder_ + "/" + source.path;
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat before {};
    if (fd.get() < 0 || ::fstat(fd.get(), &before) != 0) {
        problem(source.path, "the file could not be opened: " + systemText(errno));
        content.status = TreeObject::Status::unreadable;
        return content;
    }
    bool changed = !S_ISREG(before.st_mode) || static_cast<std::uint64_t>(before.st_ino) != m.identity.inode ||
                   static_cast<std::uint64_t>(before.st_size) != m.size ||
                   modificationTimeOf(before) != m.modificationTime;

    std::vector<SparseLayout::Region> holes;
    if (m.sparseRanges) {
        for (const auto& h : *m.sparseRanges) holes.push_back(SparseLayout::Region{h.offset, h.length});
    }
    filled_ = 0;
    try {
        for (const auto& region : SparseLayout::dataRegions(m.size, holes)) {
            std::uint64_t offset = region.offset;
            const std::uint64_t end = region.end();
            while (offset < end) {
                const std::size_t room = buffer_.size() - filled_;
                const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(room, end - offset));
                const ssize_t got = ::pread(fd.get(), buffer_.data() + filled_, want, static_cast<off_t>(offset));
                if (got < 0) {
                    if (errno == EINTR) continue;
                    const int error = errno;
                    finishStoring();
                    problem(source.path, "the file could not be read: " + systemText(error));
                    content.status = TreeObject::Status::unreadable;
                    content.blobs.clear();
                    filled_ = 0;
                    return content;
                }
                if (got == 0) {  // shorter than when it was examined
                    changed = true;
                    break;
                }
                filled_ += static_cast<std::size_t>(got);
                offset += static_cast<std::uint64_t>(got);
                if (filled_ == buffer_.size()) storeBuffered(false, content.blobs);
            }
        }
        storeBuffered(true, content.blobs);
    } catch (...) {
        filled_ = 0;
        if (storing_) storing_->stored.wait();
        storing_.reset();
        throw;
    }

    struct stat after {};
    if (::fstat(fd.get(), &after) != 0 || after.st_size != before.st_size ||
        modificationTimeOf(after) != modificationTimeOf(before))
        changed = true;
    if (changed) {
        problem(source.path, "the file changed while it was read");
        content.status = TreeObject::Status::unstable;
    }
    return content;
}

void SnapshotBuilder::storeBuffered(bool endOfFile, std::vector<BlobID>& blobs) {
    const auto largest = static_cast<std::size_t>(chunker_.maxSize());
    std::vector<ByteView> chunks;
    std::size_t position = 0;
    while (position < filled_) {
        const std::size_t remaining = filled_ - position;
        // A cut needs up to one largest chunk of bytes ahead; short of that, wait for more.
        if (!endOfFile && remaining < largest) break;
        const ByteView rest(buffer_.data() + position, remaining);
        const auto length = static_cast<std::size_t>(chunker_.nextBoundary(rest));
        chunks.push_back(rest.first(length));
        position += length;
    }
    finishStoring();
    if (chunks.empty()) return;
    Storing storing;
    storing.blobs = &blobs;
    for (const ByteView chunk : chunks) storing.sizes.push_back(chunk.size());
    // A file's last batch is stored on this thread: a thread of its own would cost a
    // small file more than it saves.
    auto store = [this, chunks = std::move(chunks)] {
        return repository_.storeChunks(std::span<const ByteView>(chunks), BlobType::data);
    };
    storing.stored = std::async(endOfFile ? std::launch::deferred : std::launch::async, std::move(store));
    storing_ = std::move(storing);
    if (endOfFile) {
        finishStoring();
        filled_ = 0;
        return;
    }
    // The chunks are stored from this half while reading goes on into the other, which
    // starts with the bytes not yet cut.
    std::memcpy(spare_.data(), buffer_.data() + position, filled_ - position);
    buffer_.swap(spare_);
    filled_ -= position;
}

void SnapshotBuilder::finishStoring() {
    if (!storing_) return;
    Storing storing = std::move(*storing_);
    storing_.reset();
    const auto stored = storing.stored.get();
    for (std::size_t i = 0; i < stored.size(); ++i) {
        storing.blobs->push_back(stored[i].id);
        if (stored[i].isNew) {
            stats_.bytesNew += storing.sizes[i];
        } else {
            stats_.bytesDeduplicated += storing.sizes[i];
        }
    }
}

}  // namespace wm

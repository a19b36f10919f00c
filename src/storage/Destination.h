#pragma once
// The storage interface through which every repository file is read, listed, written and
// removed. Implementations: LocalFolderDestination (a folder on a mounted volume), the
// ReadOnlyDestination wrapper, and the test fixtures. Every operation is a blocking call,
// safe to make from several threads at once; destinations are shared by std::shared_ptr.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "core/Identifiers.h"
#include "storage/Availability.h"
#include "storage/DestinationError.h"
#include "storage/DestinationKind.h"
#include "storage/RepoPath.h"

namespace wm {

// A half-open byte range [lower, upper) of an object.
struct ByteRange {
    std::int64_t lower = 0;
    std::int64_t upper = 0;
    std::int64_t count() const { return upper - lower; }
    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

struct DestinationCapabilities {
    // The destination can confirm remotely that what it stores is intact.
    bool remoteVerification = false;
    friend bool operator==(const DestinationCapabilities&, const DestinationCapabilities&) = default;
};

// The folder at the destination's root where pending objects are written before commit()
// puts them in place.
inline constexpr std::string_view temporaryFolderName = "tmp";

// Whether a name in the temporary folder is one a writer gives its pending object: a UUID's
// compact form (UUID::compactHex), 32 lower-case hexadecimal digits. Nothing else found there
// is a writer's.
bool isPendingWriteName(std::string_view name);

// A new object being written. Nothing appears at the final path before commit(); commit()
// makes the object durable and visible there, replacing any earlier object. A writer that
// is dropped without commit() or cancel() may leave its pending bytes in the temporary
// folder; they stay there until a writer holding the repository's writing lock discards them,
// since the pending objects of another writer lie there too.
class DurableWriter {
public:
    virtual ~DurableWriter() = default;
    // Appends bytes to the pending object.
    virtual void write(ByteView bytes) = 0;
    virtual void commit() = 0;
    // Gives up the pending object. Never throws; does nothing after commit().
    virtual void cancel() noexcept = 0;
};

// What lies at a path, judged without following a link there (Destination::opening).
struct ObjectOpening {
    enum class Kind {
        nothing,  // no entry at all
        file,     // a regular file
        other,    // a folder, a link, a device: nothing a writer may take for its own file
    };
    Kind kind = Kind::nothing;
    std::int64_t size = 0;  // a file's whole size
    Bytes bytes;            // a file's first bytes, as many as were asked for or it holds
};

class Destination {
public:
    virtual ~Destination() = default;

    virtual DestinationID id() const = 0;
    virtual DestinationKind kind() const = 0;
    virtual DestinationCapabilities capabilities() = 0;
    // Never throws.
    virtual Availability availability() = 0;

    virtual bool exists(const RepoPath& path) = 0;
    // The object's size in bytes; nothing when no object (no file) is there.
    virtual std::optional<std::int64_t> size(const RepoPath& path) = 0;
    // The whole object, or the bytes of range. A missing object throws notFound; a range
    // reaching past the end throws shortRead; a range with lower < 0 or upper < lower
    // throws ioFailed.
    virtual Bytes read(const RepoPath& path, std::optional<ByteRange> range = std::nullopt) = 0;
    // Reads exactly out.size() bytes starting at offset into the caller's buffer (one
    // positioned read for a local folder). Errors as read().
    virtual void readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out);
    // The whole object when it holds at most limit bytes, nothing when it holds more,
    // decided from its size before anything is allocated for it. Errors as read().
    std::optional<Bytes> readAtMost(const RepoPath& path, std::int64_t limit);
    // The entries directly under a folder, each as a full path, "." and ".." left out, in
    // the destination's own order. A missing folder lists as empty.
    virtual std::vector<RepoPath> list(const RepoPath& folder) = 0;
    // A writer for a new object at path; missing parent folders are created.
    virtual std::unique_ptr<DurableWriter> openWrite(const RepoPath& path) = 0;
    // Removes the file or empty folder at path; a missing object counts as removed.
    virtual void remove(const RepoPath& path) = 0;
    // Free bytes for important use; nothing when the volume does not tell.
    virtual std::optional<std::int64_t> freeSpace() = 0;
    // What lies at path, without following a link there: a regular file's size and its first
    // `count` bytes at most. A file is read no further, however large. Errors as read().
    virtual ObjectOpening opening(const RepoPath& path, std::int64_t count);
    // Removes from the temporary folder the pending objects of writes that never committed:
    // the regular files named as pending writes are (isPendingWriteName), one by one, never a
    // folder nor anything in one, nor a link. Nothing else there is touched, so a folder that
    // is not a repository, or a person's own "tmp", loses nothing of its own. beforeRemoving,
    // when given, runs once after the listing and before the first removal (not at all when
    // nothing is to be removed): what it throws goes through and nothing is removed. A listing
    // or removal that fails is passed over (never thrown): what is left waits for a later run.
    // Only a holder of the writing lock calls it, since another writer's pending objects lie
    // there too; the lock is confirmed in beforeRemoving, so that what was listed while it was
    // held is all that goes.
    virtual void discardPendingWrites(const std::function<void()>& beforeRemoving = {});
};

}  // namespace wm

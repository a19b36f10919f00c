#pragma once
// The failures of a destination. Every operation of a Destination (but the identity getters)
// throws these; the repository code passes them on unchanged.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Error.h"
#include "core/Identifiers.h"
#include "storage/Availability.h"
#include "storage/RepoPath.h"

namespace wm {

class DestinationError : public wm::Error {
public:
    enum class Kind {
        notFound,
        unavailable,
        permissionDenied,
        outOfSpace,
        shortRead,
        ioFailed,
        writeFailed,
        renameFailed,
        pathTooLong,
        interrupted,
    };

    // Which call an error came from: a read (also a listing, a size, a look for an object), a
    // write (also the folders made for it and its flushes), the rename that puts a written
    // object in place, or a removal.
    enum class Operation { read, write, rename, removal };

    static DestinationError notFound(RepoPath path);
    static DestinationError unavailable(DestinationID id, Availability availability);
    static DestinationError permissionDenied(RepoPath path, Operation operation = Operation::read);
    static DestinationError outOfSpace(std::int64_t needed, std::optional<std::int64_t> available);
    static DestinationError shortRead(RepoPath path, std::int64_t expected, std::int64_t got);
    static DestinationError ioFailed(RepoPath path, std::string underlying);
    static DestinationError writeFailed(RepoPath path, std::string underlying);
    static DestinationError renameFailed(RepoPath path, std::string underlying);
    static DestinationError pathTooLong(RepoPath path, std::int64_t limit);
    static DestinationError interrupted();

    // ENOENT notFound, EACCES/EPERM/EROFS permissionDenied, ENOSPC/EDQUOT outOfSpace,
    // ENAMETOOLONG pathTooLong, EINTR interrupted; others ioFailed (a read), writeFailed (a
    // write or a removal) or renameFailed, with the system's text for the number. The error
    // keeps the operation.
    static DestinationError fromErrno(int errorNumber, const RepoPath& path, Operation operation,
                                      std::int64_t bytesNeeded = 0,
                                      std::optional<std::int64_t> bytesAvailable = std::nullopt);

    Kind kind;
    Operation operation = Operation::read;  // fromErrno, permissionDenied
    RepoPath path;                          // every case naming a path
    DestinationID destination;              // unavailable
    Availability availability;              // unavailable
    std::int64_t needed = 0;                // outOfSpace
    std::optional<std::int64_t> available;  // outOfSpace
    std::int64_t expected = 0;              // shortRead
    std::int64_t got = 0;                   // shortRead
    std::string underlying;                 // ioFailed, writeFailed, renameFailed; fromErrno's permissionDenied
    std::int64_t limit = 0;                 // pathTooLong

private:
    DestinationError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    static DestinationError withUnderlying(Kind kind, const char* name, RepoPath path, std::string underlying);
};

}  // namespace wm

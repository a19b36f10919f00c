#include "storage/DestinationError.h"
#include "core/ErrorDescription.h"
#include "core/SystemCall.h"

#include <cerrno>
#include <climits>
#include <cstring>

namespace wm {

namespace {

ErrorDescription describe(std::string_view caseName) { return {"DestinationError", caseName}; }

}  // namespace

DestinationError DestinationError::notFound(RepoPath path) {
    DestinationError e(Kind::notFound, describe("notFound").quoted("", path.string()));
    e.path = std::move(path);
    return e;
}

DestinationError DestinationError::unavailable(DestinationID id, Availability availability) {
    DestinationError e(Kind::unavailable,
                       describe("unavailable").add("", id.value.uuidString()).add("", availability.description()));
    e.destination = id;
    e.availability = std::move(availability);
    return e;
}

DestinationError DestinationError::permissionDenied(RepoPath path, Operation operation) {
    DestinationError e(Kind::permissionDenied, describe("permissionDenied").quoted("", path.string()));
    e.path = std::move(path);
    e.operation = operation;
    return e;
}

DestinationError DestinationError::outOfSpace(std::int64_t needed, std::optional<std::int64_t> available) {
    DestinationError e(Kind::outOfSpace, describe("outOfSpace").add("needed", needed).add("available", available));
    e.needed = needed;
    e.available = available;
    return e;
}

DestinationError DestinationError::shortRead(RepoPath path, std::int64_t expected, std::int64_t got) {
    DestinationError e(Kind::shortRead,
                       describe("shortRead").quoted("", path.string()).add("expected", expected).add("got", got));
    e.path = std::move(path);
    e.expected = expected;
    e.got = got;
    return e;
}

DestinationError DestinationError::withUnderlying(Kind kind, const char* name, RepoPath path, std::string underlying) {
    DestinationError e(kind, describe(name).quoted("", path.string()).add("underlying", underlying));
    e.path = std::move(path);
    e.underlying = std::move(underlying);
    return e;
}

DestinationError DestinationError::ioFailed(RepoPath path, std::string underlying) {
    return withUnderlying(Kind::ioFailed, "ioFailed", std::move(path), std::move(underlying));
}

DestinationError DestinationError::writeFailed(RepoPath path, std::string underlying) {
    return withUnderlying(Kind::writeFailed, "writeFailed", std::move(path), std::move(underlying));
}

DestinationError DestinationError::renameFailed(RepoPath path, std::string underlying) {
    return withUnderlying(Kind::renameFailed, "renameFailed", std::move(path), std::move(underlying));
}

DestinationError DestinationError::pathTooLong(RepoPath path, std::int64_t limit) {
    DestinationError e(Kind::pathTooLong, describe("pathTooLong").quoted("", path.string()).add("limit", limit));
    e.path = std::move(path);
    e.limit = limit;
    return e;
}

DestinationError DestinationError::interrupted() {
    return DestinationError(Kind::interrupted, "DestinationError.interrupted");
}

DestinationError DestinationError::fromErrno(int errorNumber, const RepoPath& path, Operation operation,
                                             std::int64_t bytesNeeded, std::optional<std::int64_t> bytesAvailable) {
    DestinationError e = [&] {
        switch (errorNumber) {
        case ENOENT: return notFound(path);
        case EACCES:
        case EPERM:
        case EROFS: return permissionDenied(path);
        case ENOSPC:
        case EDQUOT: return outOfSpace(bytesNeeded, bytesAvailable);
        case ENAMETOOLONG: {
            // A single over-long name is the usual cause; otherwise the whole path is.
            for (const auto& c : path.components()) {
                if (c.size() > NAME_MAX) return pathTooLong(path, NAME_MAX);
            }
            return pathTooLong(path, PATH_MAX);
        }
        case EINTR: return interrupted();
        default: break;
        }
        switch (operation) {
        case Operation::read: return ioFailed(path, systemErrorText(errorNumber));
        case Operation::write:
        case Operation::removal: return writeFailed(path, systemErrorText(errorNumber));
        case Operation::rename: return renameFailed(path, systemErrorText(errorNumber));
        }
        return ioFailed(path, systemErrorText(errorNumber));
    }();
    e.operation = operation;
    // Kept for the words of a failed write: whether it was a read-only volume or a folder's
    // permissions.
    if (e.kind == Kind::permissionDenied) e.underlying = systemErrorText(errorNumber);
    return e;
}

}  // namespace wm

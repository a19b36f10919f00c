#include "format/RepositoryErrors.h"

namespace wm {

RepositoryError RepositoryError::blobNotFound(const BlobID& id) {
    RepositoryError e(Kind::blobNotFound, "Repository.Error.blobNotFound(" + id.hex() + ")");
    e.blob = id;
    return e;
}

RepositoryError RepositoryError::snapshotNotFound(const SnapshotID& id) {
    RepositoryError e(Kind::snapshotNotFound, "Repository.Error.snapshotNotFound(" + id.value.uuidString() + ")");
    e.snapshot = id;
    return e;
}

RepositoryError RepositoryError::packMissing(const PackID& id) {
    RepositoryError e(Kind::packMissing, "Repository.Error.packMissing(" + id.hex() + ")");
    e.pack = id;
    return e;
}

RepositoryError RepositoryError::alreadyExists() { return {Kind::alreadyExists, "Repository.Error.alreadyExists"}; }
RepositoryError RepositoryError::noPassphraseSet() { return {Kind::noPassphraseSet, "Repository.Error.noPassphraseSet"}; }
RepositoryError RepositoryError::headMissing() { return {Kind::headMissing, "Repository.Error.headMissing"}; }

ReplicatorError ReplicatorError::foreignRepository(const RepositoryID& expected, const RepositoryID& found) {
    ReplicatorError e(Kind::foreignRepository,
                      "Replicator.Error.foreignRepository(expected: " + expected.hex() + ", found: " + found.hex() + ")");
    e.expected = expected;
    e.found = found;
    return e;
}

}  // namespace wm

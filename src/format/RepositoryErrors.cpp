#include "format/RepositoryErrors.h"
#include "core/ErrorDescription.h"

namespace wm {

RepositoryError RepositoryError::blobNotFound(const BlobID& id) {
    RepositoryError e(Kind::blobNotFound, ErrorDescription("Repository.Error", "blobNotFound").add("", id.hex()));
    e.blob = id;
    return e;
}

RepositoryError RepositoryError::snapshotNotFound(const SnapshotID& id) {
    RepositoryError e(Kind::snapshotNotFound,
                      ErrorDescription("Repository.Error", "snapshotNotFound").add("", id.value.uuidString()));
    e.snapshot = id;
    return e;
}

RepositoryError RepositoryError::packMissing(const PackID& id) {
    RepositoryError e(Kind::packMissing, ErrorDescription("Repository.Error", "packMissing").add("", id.hex()));
    e.pack = id;
    return e;
}

RepositoryError RepositoryError::alreadyExists() { return {Kind::alreadyExists, "Repository.Error.alreadyExists"}; }
RepositoryError RepositoryError::noPassphraseSet() {
    return {Kind::noPassphraseSet, "Repository.Error.noPassphraseSet"};
}
RepositoryError RepositoryError::headMissing() { return {Kind::headMissing, "Repository.Error.headMissing"}; }
RepositoryError RepositoryError::holdsOtherFiles() {
    return {Kind::holdsOtherFiles, "Repository.Error.holdsOtherFiles"};
}
RepositoryError RepositoryError::headChanged(std::uint64_t expected, std::uint64_t found) {
    RepositoryError e(
        Kind::headChanged,
        ErrorDescription("Repository.Error", "headChanged").add("expected", expected).add("found", found));
    e.expectedCounter = expected;
    e.foundCounter = found;
    return e;
}

ReplicatorError ReplicatorError::foreignRepository(const RepositoryID& expected, const RepositoryID& found) {
    ReplicatorError e(Kind::foreignRepository, ErrorDescription("Replicator.Error", "foreignRepository")
                                                   .add("expected", expected.hex())
                                                   .add("found", found.hex()));
    e.expected = expected;
    e.found = found;
    return e;
}

ReplicatorError ReplicatorError::configMissing(const RepositoryID& expected) {
    ReplicatorError e(Kind::configMissing,
                      ErrorDescription("Replicator.Error", "configMissing").add("expected", expected.hex()));
    e.expected = expected;
    return e;
}

}  // namespace wm

#pragma once
// The errors of the repository engine and of the replicator. They are declared here,
// below both, because the wording of repository errors (RepositoryPresentation) must
// recognise them: the engine uses RepositoryError as Repository::Error and the replicator
// uses ReplicatorError as Replicator::Error.
#include <string>

#include "core/Error.h"
#include "core/Identifiers.h"

namespace wm {

class RepositoryError : public wm::Error {
public:
    enum class Kind { blobNotFound, snapshotNotFound, packMissing, alreadyExists, noPassphraseSet, headMissing };
    static RepositoryError blobNotFound(const BlobID& id);
    static RepositoryError snapshotNotFound(const SnapshotID& id);
    static RepositoryError packMissing(const PackID& id);
    static RepositoryError alreadyExists();
    static RepositoryError noPassphraseSet();
    static RepositoryError headMissing();

    Kind kind;
    BlobID blob;          // blobNotFound
    SnapshotID snapshot;  // snapshotNotFound
    PackID pack;          // packMissing

    friend bool operator==(const RepositoryError& a, const RepositoryError& b) {
        return a.kind == b.kind && a.blob == b.blob && a.snapshot == b.snapshot && a.pack == b.pack;
    }

private:
    RepositoryError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

class ReplicatorError : public wm::Error {
public:
    enum class Kind { foreignRepository };
    // The copy target already holds another repository.
    static ReplicatorError foreignRepository(const RepositoryID& expected, const RepositoryID& found);

    Kind kind;
    RepositoryID expected;
    RepositoryID found;

private:
    ReplicatorError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

}  // namespace wm

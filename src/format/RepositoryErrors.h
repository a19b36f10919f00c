#pragma once
// The errors of the repository engine and of the replicator. They are declared here,
// below both, because the wording of repository errors (RepositoryPresentation) must
// recognise them: the engine uses RepositoryError as Repository::Error and the replicator
// uses ReplicatorError as Replicator::Error.
#include <cstdint>
#include <string>

#include "core/Error.h"
#include "core/Identifiers.h"

namespace wm {

class RepositoryError : public wm::Error {
public:
    enum class Kind {
        blobNotFound,
        snapshotNotFound,
        packMissing,
        alreadyExists,
        noPassphraseSet,
        headMissing,
        headChanged,
        holdsOtherFiles
    };
    static RepositoryError blobNotFound(const BlobID& id);
    static RepositoryError snapshotNotFound(const SnapshotID& id);
    static RepositoryError packMissing(const PackID& id);
    static RepositoryError alreadyExists();
    static RepositoryError noPassphraseSet();
    static RepositoryError headMissing();
    // The stored head is not the one this repository last read or wrote: another writer
    // moved it (or an older one was put back) meanwhile.
    static RepositoryError headChanged(std::uint64_t expected, std::uint64_t found);
    // A new repository was to be made where a person's own file lies at one of the names a
    // repository uses (its head, a file inside its folders): nothing is written over it.
    static RepositoryError holdsOtherFiles();

    Kind kind;
    BlobID blob;                        // blobNotFound
    SnapshotID snapshot;                // snapshotNotFound
    PackID pack;                        // packMissing
    std::uint64_t expectedCounter = 0;  // headChanged: the counter this repository holds
    std::uint64_t foundCounter = 0;     // headChanged: the counter of the stored head

    friend bool operator==(const RepositoryError& a, const RepositoryError& b) {
        return a.kind == b.kind && a.blob == b.blob && a.snapshot == b.snapshot && a.pack == b.pack &&
               a.expectedCounter == b.expectedCounter && a.foundCounter == b.foundCounter;
    }

private:
    RepositoryError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

class ReplicatorError : public wm::Error {
public:
    enum class Kind { foreignRepository, configMissing };
    // The copy target already holds another repository.
    static ReplicatorError foreignRepository(const RepositoryID& expected, const RepositoryID& found);
    // The copy target holds a repository's folders without its config: whose they are is
    // unknown (`found` stays all zeros).
    static ReplicatorError configMissing(const RepositoryID& expected);

    Kind kind;
    RepositoryID expected;
    RepositoryID found;

private:
    ReplicatorError(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
};

}  // namespace wm

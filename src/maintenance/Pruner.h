#pragma once
// Garbage collection in two phases with a cooling period between them.
//
// mark() applies the retention rule to the head's snapshots, walks the trees of those it
// keeps, and records in one signed mark file under "gc" the packs that hold no reachable
// blob, with a digest of the reachable set, then removes the older marks. It deletes nothing
// else.
//
// sweep() acts on the newest mark once the cooling period has passed: it checks that the
// kept snapshots still reach exactly the recorded set, takes the given-up snapshots out of
// the head, rewrites the index without the packs no surviving snapshot needs, deletes those
// packs, and removes the mark last. Every step can be repeated after a stop at any point.
// A candidate stays when its own directory lists a blob a surviving snapshot needs (whatever
// the index says) or an index file the sweep did not load names it; the head on storage is
// read again (Repository::checkHeadUnchanged) as late as the commit reads it before the head
// is replaced, and before the first deletion of each kind. The writing check of the repository
// runs before the head, the index file and each deletion, an older mark's included. A mark or
// sweep stopped by either check says what it had done by then.
//
// A Pruner keeps nothing between calls; calls on one Pruner run one at a time.
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "core/RetentionPolicy.h"
#include "engine/PrunerMark.h"

namespace wm {

class Repository;

class Pruner {
public:
    class Error : public wm::Error {
    public:
        enum class Kind {
            stillCooling,         // until: the earliest moment the sweep may run
            noMark,               // no mark file opens
            reachableSetChanged,  // the kept snapshots reach another set than the mark recorded
            markUnreadable,       // a record or tree on a walk cannot be read, opened or decoded
            indexIncomplete,      // a blob a surviving snapshot needs has no location in the index
            headMoved,            // another writer moved the head on storage: the sweep stopped there
        };
        static Error stillCooling(Date until);
        static Error noMark();
        static Error reachableSetChanged();
        static Error markUnreadable();
        static Error indexIncomplete();
        // alreadyDone: what the sweep had done by then, as a whole sentence ("" for nothing).
        static Error headMoved(std::string alreadyDone);

        Kind kind;
        Date until;               // stillCooling
        std::string alreadyDone;  // headMoved

        friend bool operator==(const Error& a, const Error& b) {
            return a.kind == b.kind && a.until == b.until && a.alreadyDone == b.alreadyDone;
        }

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    // The record in gc/<runID>.mark.
    using Mark = PrunerMark;

    struct MarkReport {
        UUID runID;
        std::int64_t candidatePacks = 0;
        std::int64_t candidateBytes = 0;  // as the destination reports them; unknown sizes count 0
        std::int64_t retainedSnapshots = 0;
        std::int64_t prunableSnapshots = 0;
        Date sweepAllowedFrom;
    };

    struct SweepReport {
        std::int64_t packsDeleted = 0;
        std::int64_t bytesReclaimed = 0;  // packs put on the delete list, held ones included
        std::int64_t snapshotsDeleted = 0;
        std::int64_t packsSpared = 0;  // candidates a surviving snapshot still needs
        std::int64_t packsHeld = 0;    // removal refused by storage-side retention
    };

    Pruner() = default;

    // The mark phase. Retention decides with the given holds. Throws Error::markUnreadable
    // when a kept snapshot or a tree cannot be read, and the destination's errors; a phase
    // that throws those writes and removes nothing. The writing check stops it before its mark
    // is written, or before an older mark is removed (WritingLockLost says what it had done).
    MarkReport mark(Repository& repository, const RetentionPolicy& policy, const std::vector<RetentionHold>& holds,
                    Date now);
    // The sweep phase. The snapshots it removes are those the mark gives up, less any that an
    // active hold among `holds` protects now (a hold placed during the cooling period counts);
    // `policy` is not consulted. Holds the repository's writing lock from the head check to the
    // last pack removal.
    SweepReport sweep(Repository& repository, const RetentionPolicy& policy, const std::vector<RetentionHold>& holds,
                      Date now);

    // SHA-256 over the blob identities in ascending byte order.
    static Bytes digest(const std::unordered_set<BlobID>& blobs);

private:
    // The pruner is an actor: its mark and sweep run one call at a time, each whole before the
    // next begins. Held for the length of a call.
    std::mutex running_;
};

}  // namespace wm

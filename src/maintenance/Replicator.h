#pragma once
// Copies of a repository on other destinations: making and refreshing one (replicate),
// mending damaged packs from one (repair), and judging how one stands (inspect).
//
// A copy is file for file: everything replication puts on the target is the source's file
// byte for byte, except the records it signs itself (a placeholder head, the replica state)
// and the read-me files. Nothing on the target is ever renamed, and nothing removed but the
// pending files of unfinished writes on a copy that already holds this repository; every pack
// written is read back and checked, and the target's head moves only once its packs are all there.
// A Replicator keeps nothing between calls; calls on one Replicator run one at a time.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "crypto/RepositoryKeys.h"
#include "format/RepositoryErrors.h"
#include "maintenance/DestinationStatus.h"
#include "storage/Destination.h"

namespace wm {

class BlobCipher;
class Repository;
struct HeadRecord;

struct ReplicationReport {
    std::int64_t packsCopied = 0;
    std::int64_t bytesCopied = 0;
    std::int64_t packsAlreadyPresent = 0;
    bool isCurrent = false;             // no pack failed, the source did not move, the copy is not ahead, and
                                        // no blob the source's index knows is missing from the copy
    std::vector<PackID> failedObjects;  // rejected on read-back, in copy order
    bool sourceAdvancedDuringRun = false;
    // Snapshots of the source's head that cannot be read whole from the copy (record missing or
    // not opening, a blob in no checked pack of it): the copy's head does not move to list them.
    std::vector<SnapshotID> snapshotsNotWhole;
    // A backup made into the copy: the copy's head lists it, the source's does not, and no
    // replica state on the copy does (a replication never put it there).
    struct CopyOnlyBackup {
        SnapshotID id;
        std::optional<Date> createdAt;  // absent, with no device name, when its record does not open
        std::string deviceName;
        friend bool operator==(const CopyOnlyBackup&, const CopyOnlyBackup&) = default;
    };
    // In the order the copy's head lists them. With any, the copy was left exactly as it was
    // (the source's head would take them out of its list) and the run is not current.
    std::vector<CopyOnlyBackup> madeIntoCopy;
    friend bool operator==(const ReplicationReport&, const ReplicationReport&) = default;
};

class Replicator {
public:
    using Error = ReplicatorError;  // foreignRepository(expected, found), configMissing(expected)

    struct RepairResult {
        std::vector<PackID> repaired;
        std::vector<PackID> refused;
    };

    // What a repair from a copy fetches so that the primary's listed snapshots read whole.
    struct RepairPlan {
        // Packs holding a blob a listed snapshot needs that no checked pack of the primary
        // holds (found by walking the snapshots, from the copy where the primary cannot say),
        // and packs the primary's index names that do not check; ascending.
        std::vector<PackID> packs;
        // Checked packs of the primary holding a needed blob its index does not know.
        std::vector<PackID> indexAgain;
        // Listed snapshots that not even the copy makes whole.
        std::vector<SnapshotID> beyondRepair;
    };

    Replicator() = default;

    // Reads both sides (every pack checked, a file larger than any pack not read) and plans.
    static RepairPlan planRepair(const Repository& primary, Destination& copy, const RepositoryKeys& keys);
    // Writes one index file naming the blobs of these packs of the primary that check (unless
    // no index file of the primary opens: its opening then indexes every pack itself), and
    // returns the listed snapshots that still do not read whole through the index. The caller
    // holds the primary's writing lock.
    static std::vector<SnapshotID> indexAgain(Repository& primary, const std::vector<PackID>& packs);

    // Replaces each listed pack of `into` with the copy in `from`, when that copy is exactly
    // the pack of that name; otherwise the pack is refused and `into` keeps what it had. A
    // failure to write `into` is thrown; packs repaired before it stay repaired. `check` (the
    // writing lock of `into`) runs before each pack is put in place; what it throws stops the
    // repair there.
    RepairResult repair(const std::vector<PackID>& packs, Destination& from, Destination& into,
                        const RepositoryKeys& keys, const std::function<void()>& check = {});

    // Brings the target up to the source's state. Throws before writing anything when the
    // keys are not the source's (KeyFile::Error::wrongKey), the source head does not open, or
    // the target holds another repository (Error::foreignRepository) or a repository's folders
    // without its config (Error::configMissing). When backups were made into the copy, it writes
    // nothing either and names them in madeIntoCopy. Other failures of the destinations are
    // thrown as they happen, and what was committed before stays. The caller holds the copy's
    // writing lock: on a copy whose config already names this repository, the pending files of
    // an earlier run's unfinished writes are discarded first (a folder that holds no repository
    // loses nothing of its own). Every file of the copy is read with the size limit of its kind;
    // a file the copy holds by name that does not open (key, index, snapshot record) is written
    // again from the source. `check` (the writing lock of the copy) runs before each write or
    // removal on the copy is put in place; what it throws stops the run there, and a
    // WritingLockLost then says what the run had copied and whether the copy's list of backups
    // moved.
    ReplicationReport replicate(const Repository& source, Destination& target, const RepositoryKeys& keys,
                                const std::function<void()>& check = {});

    // Whether the target may take a copy of the repository with this identity: true when it
    // already holds one (its config names it), false when it holds no repository. A config of
    // another repository throws Error::foreignRepository, a repository's folders without a
    // config Error::configMissing. Only reads; replicate() asks the same first.
    static bool checkTarget(const RepositoryID& source, Destination& target);

    // How the destination stands against the primary. Only reads; never throws: failures
    // become notReachable or unreadable with their sentence.
    DestinationStatus inspect(Destination& destination, const Repository& primary, const RepositoryKeys& keys);

    // SHA-256 over the pack identities in ascending byte order.
    static Bytes digest(const std::unordered_set<PackID>& packs);

private:
    // One replicate() call, in its phases: settle (everything that can refuse the run, before
    // the first write), prepareTarget (leftovers of an earlier run, config, placeholder head,
    // keys), copyPacks (packs holding a blob the copy lacks, each read back and checked),
    // copyRecords (index files, snapshot records, holds, retention setting), advanceHead
    // (returns the head the copy holds afterwards) and writeReplicaState. Every write to the
    // target goes through Run::put, behind the copy's writing check.
    struct Run;
    static void settle(Run& run);
    static void prepareTarget(Run& run);
    static void copyPacks(Run& run, ReplicationReport& report);
    static void copyRecords(Run& run);
    static HeadRecord advanceHead(Run& run, ReplicationReport& report);
    static void writeReplicaState(Run& run, const HeadRecord& held);

    // Copies each file of the folder that the target lacks by name, or holds only as a file
    // that is larger than `limit` or that `check` refuses (by throwing). Files read no larger
    // than `limit` on either side.
    static void copyMissingFiles(Run& run, const RepoPath& folder, std::int64_t limit,
                                 const std::function<void(ByteView)>& check);
    // Copies each file of the folder no larger than `limit` that `check` accepts, unless the
    // target already holds exactly its bytes.
    static void copyChangedFiles(Run& run, const RepoPath& folder, std::int64_t limit,
                                 const std::function<void(ByteView)>& check);
    // Writes the bytes unless the target already holds exactly them there.
    static void copyIfChanged(Run& run, ByteView bytes, const RepoPath& path);
    // Bytes of the primary's packs the destination lacks. Errors of the primary's side are
    // thrown; the destination's count as holding nothing.
    static std::int64_t pendingBytes(Destination& destination, const Repository& primary, const BlobCipher& cipher);

    // The replicator is an actor: replicate, repair and inspect run one call at a time, each
    // whole before the next begins. Held for the length of a call.
    std::mutex running_;
};

}  // namespace wm

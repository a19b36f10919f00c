#pragma once
// One open repository: the destination it lives on, its config, keys and cipher, the
// in-memory index of every stored blob, the current head, the pack being filled and the
// index sections not yet written, and a running tally of the destination's health.
//
// A Repository is shared by std::shared_ptr and comes into being only through create(),
// open() or unlock(). It is never closed explicitly.
//
// Threads:
//  - destination(), config(), keys(), cipher(), deviceID() and appVersion() are constants,
//    readable from any thread without locking.
//  - The mutable state sits behind one reader-writer mutex that is held only for short,
//    I/O-free steps. blob() and snapshot() take their location and keys under it and then
//    read and decrypt outside it, so any number of threads may read at once, also while a
//    backup stores and commits.
//  - store and storeChunks may run on several threads at once: their blobs share the open
//    pack, each call appends in its own input order, and each returns once the packs its
//    blobs filled are written and verified (PackStore). The other operations that write
//    (commit, the index rewrite and head replacement of pruning, ...) take a second mutex
//    alone, so they wait for running store calls and hold new ones off, and two commits
//    never interleave their read-modify-write of the head.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Identifiers.h"
#include "core/Snapshot.h"
#include "crypto/BlobCipher.h"
#include "crypto/KeyFile.h"
#include "crypto/RepositoryKeys.h"
#include "format/CompactIndex.h"
#include "format/HeadRecord.h"
#include "format/IndexFile.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryErrors.h"
#include "format/SnapshotRecord.h"

namespace wm {

class Destination;
class KeyFiles;
class PackStore;
class RepoPath;
struct DestinationHealth;
struct PrunerMark;
struct RecoveryKey;
struct StoredSizes;

class Repository {
    struct Passkey {};

public:
    enum class Access { readWrite, readOnly };

    // blobNotFound, snapshotNotFound, packMissing, alreadyExists, noPassphraseSet, headMissing.
    using Error = RepositoryError;

    struct Opened {
        std::shared_ptr<Repository> repository;
        HeadVerdict verdict;
    };

    struct Unlocked {
        std::shared_ptr<Repository> repository;
        HeadVerdict verdict;
        RepositoryKeys keys;
    };

    // The outcome of storing one chunk: isNew is true only when this call added the blob.
    struct Stored {
        BlobID id;
        bool isNew = false;
        friend bool operator==(const Stored&, const Stored&) = default;
    };

    // --- creating, opening, unlocking ---

    // Runs before each step of a writer that makes work visible or deletes; throws to stop it
    // there (HeldWritingLock::confirmHeld, which throws WritingLockLost).
    using WritingCheck = std::function<void()>;

    // What a creation runs besides its own writes: the writing check before each write and
    // removal, and beforeHead, the caller's own step that must be done and durable before the
    // head makes the creation whole (keeping a new recovery key's text, for instance).
    struct CreationSteps {
        WritingCheck writingCheck;
        std::function<void()> beforeHead;
    };

    // Makes a new repository on a destination that holds none, in an order that leaves, at
    // any moment it stops, what the next run takes: the key files a creation cut short left are
    // removed, then `keyFiles` are written (the master key wrapped for each secret the caller
    // keeps), then the config, then beforeHead runs, then the head (the write that makes the
    // repository whole) and the drive read-me. Before the head, what is there is a creation
    // that finishCreation completes (a config and key files) or that a new creation takes
    // (key files). Throws Error::alreadyExists when a config file is there, or a head beside
    // snapshot records, index files or packs (a repository whose config is missing),
    // RepositoryConfig::Error::unsupportedVersion for a format version outside 1...2,
    // Error::holdsOtherFiles when a name the repository uses holds anything but what a
    // creation cut short leaves (CreationLeftovers; a head is never such a leftover), nothing
    // written for any of them, and the destination's errors. When a write or beforeHead fails
    // with an ordinary error, the config, key files and head written go again (each only
    // while it holds what was written, and only while the writing check passes), so that the
    // folder is as it was; once beforeHead has run, what is there stays for finishCreation.
    static std::shared_ptr<Repository> create(const std::shared_ptr<Destination>& destination,
                                              const RepositoryKeys& keys, const DeviceID& deviceID,
                                              std::string appVersion, std::optional<RepositoryConfig::KDF> kdf,
                                              std::int64_t formatVersion, Date now,
                                              const std::vector<KeyFile>& keyFiles = {},
                                              const CreationSteps& steps = {});

    // The config of a creation that stopped before its head: a config that decodes, with no
    // head and no snapshot record, index file or pack beside it. Nothing for anything else (no
    // config, a repository, a config that does not decode). Read and listing errors are thrown.
    static std::optional<RepositoryConfig> unfinishedCreation(Destination& destination);

    // Completes a creation that stopped before its head (unfinishedCreation), with the keys
    // one of its key files gave: writes those of `keyFiles` that are not there, removes every
    // other key file (one whose secret nobody keeps would open the repository for no one and
    // count as a key that works), runs beforeHead, then writes the head and the drive read-me.
    // Throws Error::alreadyExists when the folder holds a head or data (a repository: opened,
    // never completed), KeyFile::Error::wrongKey when the config is another repository's,
    // Error::holdsOtherFiles as create does, and the destination's errors; what is there
    // stays for another attempt.
    static std::shared_ptr<Repository> finishCreation(const std::shared_ptr<Destination>& destination,
                                                      const RepositoryKeys& keys, const DeviceID& deviceID,
                                                      std::string appVersion, Date now,
                                                      const std::vector<KeyFile>& keyFiles,
                                                      const CreationSteps& steps = {});

    // Takes back a creation that stopped before its head, proved to be the repository
    // `repositoryID` (a secret the caller kept opens it, or the caller remembers that it began
    // creating that repository there): the config first, so that the folder is no repository,
    // then the key files. Throws Error::alreadyExists, nothing removed, when the folder is not
    // such a creation of that repository; the writing check's and the destination's errors.
    static void withdrawUnfinishedCreation(Destination& destination, const RepositoryID& repositoryID,
                                           const WritingCheck& writingCheck = {});

    // The keys a key file beside the config gives with the secret, and that key file, as
    // unlock finds them but without opening the repository (a creation that stopped before its
    // head has none to open). Nothing when none opens; the errors are unlock's, but for
    // KeyFile::Error::wrongKey.
    struct KeyOpening {
        RepositoryKeys keys;
        KeyFile keyFile;
    };
    static std::optional<KeyOpening> openKeyFile(Destination& destination, const RecoveryKey& recoveryKey);
    static std::optional<KeyOpening> openKeyFile(Destination& destination, std::string_view passphrase);

    // Opens an existing repository with keys already unwrapped: reads the config and the
    // signed head, compares the head's counter with the remembered one (the verdict never
    // stops the opening), and loads the index. Read-only access wraps the destination so that
    // nothing can be written. Nothing is removed: "tmp" may hold the pending files of another
    // writer, so only a caller holding the writing lock clears them (discardCrashDebris).
    static Opened open(std::shared_ptr<Destination> destination, const RepositoryKeys& keys, const DeviceID& deviceID,
                       std::string appVersion, std::optional<std::uint64_t> rememberedCounter, Access access);

    // Finds a key file that the secret opens, derives the keys and opens the repository.
    // Key files that cannot be read, decoded or opened are passed over; when none opens,
    // KeyFile::Error::wrongKey, except that when not one could be read, the first read error.
    static Unlocked unlock(std::shared_ptr<Destination> destination, const RecoveryKey& recoveryKey,
                           const DeviceID& deviceID, std::string appVersion,
                           std::optional<std::uint64_t> rememberedCounter, Access access);
    // The same with a passphrase, through the config's key-derivation setting (derived once
    // per unlock). A config without one throws Error::noPassphraseSet before any key file is
    // read.
    static Unlocked unlock(std::shared_ptr<Destination> destination, std::string_view passphrase,
                           const DeviceID& deviceID, std::string appVersion,
                           std::optional<std::uint64_t> rememberedCounter, Access access);

    Repository(Passkey, std::shared_ptr<Destination> destination, RepositoryConfig config, const RepositoryKeys& keys,
               const DeviceID& deviceID, std::string appVersion, HeadRecord head);
    ~Repository();
    Repository(const Repository&) = delete;
    Repository& operator=(const Repository&) = delete;

    // --- constants ---

    const std::shared_ptr<Destination>& destination() const { return destination_; }
    const RepositoryConfig& config() const { return config_; }
    const RepositoryKeys& keys() const { return *keys_; }
    const BlobCipher& cipher() const { return cipher_; }
    const DeviceID& deviceID() const { return deviceID_; }
    const std::string& appVersion() const { return appVersion_; }

    // --- reading ---

    // The head's snapshots, in head order.
    std::vector<SnapshotID> snapshotIDs() const;
    std::uint64_t counter() const;
    // Blobs in the index (blobs still waiting to be written are not counted).
    std::size_t blobCount() const;
    // Whether the blob is stored, or accepted and waiting to be written.
    bool contains(const BlobID& id) const;
    // The signed record of a snapshot. A record that opens but is another snapshot's (copied
    // over this one's file) gives Error::snapshotNotFound. Read and record errors pass through.
    SnapshotRecord snapshot(const SnapshotID& id) const;
    // The plaintext of a blob: one ranged read of its pack, opened by the cipher. A blob
    // not in the index gives Error::blobNotFound; an index entry whose range cannot be a
    // position in a file gives PackFile::Error::blobRangeOutOfBounds. Read and cipher errors
    // pass through; a pack that ends before the blob does gives the ranged read's shortRead.
    Bytes blob(const BlobID& id) const;
    // The same, reading the sealed bytes into a buffer the caller keeps from one blob to the
    // next: it grows to the largest blob read and is never shrunk, so a walk over many blobs
    // neither allocates nor clears one for each. beforeAllocating is the cipher's (open).
    Bytes blob(const BlobID& id, Bytes& sealedBuffer,
               const BlobCompression::BeforeAllocating& beforeAllocating = {}) const;

    // The head as last written or read.
    HeadRecord head() const;
    DestinationHealth health() const;
    // Runs body(const CompactIndex&) while the index cannot change.
    template <class Body>
    decltype(auto) withIndex(Body&& body) const {
        std::shared_lock lock(stateMutex_);
        return body(index_);
    }
    // A fresh index built from every pack's directory; `index` is left as it is.
    CompactIndex rebuildIndexFromPacks() const;

    // --- storing and committing ---

    // Stores one blob: skipped (isNew false) when the index, the open pack or a pack
    // waiting to be written already holds it; otherwise sealed and added to the open pack,
    // which is sealed into a pack file when full.
    Stored store(ByteView plaintext, BlobType type);
    // Stores a batch: identities first, duplicates skipped, the new chunks sealed in parallel
    // on a small pool and added to the open pack strictly in input order. One result per
    // chunk, in input order. Returns once every pack the batch filled is written and
    // verified; the first failure stops the batch and is thrown. Calls on several threads
    // run at once (a chunk another call stored meanwhile comes out as not new).
    std::vector<Stored> storeChunks(std::span<const ByteView> chunks, BlobType type);
    std::vector<Stored> storeChunks(const std::vector<Bytes>& chunks, BlobType type);

    // Finishes a backup: writes the open pack and any pack still waiting, flushes the index,
    // writes the signed snapshot record and then the next head listing it, and refreshes the
    // drive read-me. Returns the new snapshot's identifier. Refuses (throws the write's error)
    // while any chunk already accepted is not yet in a written pack. Just before the head is
    // written the stored head is read again: when another writer moved it, the commit throws
    // Error::headChanged and takes back its snapshot record; the packs and the index file it
    // wrote stay, so a new attempt deduplicates against them.
    struct CommitRequest {
        BlobID rootTree;
        std::vector<SnapshotSource> sources;
        SnapshotStats stats;
        std::set<SnapshotFlag> flags;
        std::string deviceName;
        std::vector<std::string> excludeRules;
        std::optional<SnapshotID> parent;
        Date now;
    };
    SnapshotID commit(const CommitRequest& request);
    // Rewrites the drive read-me files; never fails.
    void refreshReadMe();
    // Forgets the index sections not yet written as an index file (their packs stay in the
    // in-memory index and on the destination).
    void discardUnflushedIndex();

    // Whether chunks accepted by store or storeChunks are not yet in a written, verified pack.
    bool hasUnwrittenChunks() const;
    // Test seam: packs count as full from this many blobs (50,000 otherwise).
    void setPackBlobLimitForTesting(std::size_t blobs);
    std::vector<IndexFile::Section> unflushedSections() const;
    std::size_t unflushedEntryCount() const;

    // The key files under "keys".
    KeyFiles& keyFiles() { return *keyFiles_; }

    // --- what only the holder of the writing lock may call ---

    // Removes from "tmp" what writes that never committed left there: the regular files named
    // as pending writes are (Destination::discardPendingWrites). Everything else there stays,
    // is never entered and never fails a run: "tmp" may be a person's own folder. Another
    // writer's pending files lie there too, so call this only while holding the writing lock:
    // the writing check runs between the listing and the first removal, and its error is
    // thrown. A listing or removal that fails is passed over: what is left waits for the next
    // time.
    void discardCrashDebris();
    // Reads the stored head again and throws Error::headChanged when its counter or snapshot
    // list is not the head this repository last read or wrote (another writer moved it, or
    // an older head was put back). Read and record errors pass through. A writer that is
    // about to replace the head or delete what it lists calls this just before: the commit
    // and setHead with the new head's bytes written and only putting them in place to come.
    void checkHeadUnchanged() const;

    // A check the holder of the writing lock installs (HeldWritingLock::confirmHeld), called
    // just before each step that makes work visible or deletes: the commit's snapshot record
    // and head, the head and index file of pruning, an index file added, clearing pending writes from "tmp",
    // each mark removed. Install it before any of them. It throws to stop the
    // writer there (WritingLockLost); the writer then says what it had done already.
    // Install before writing; no check is made without one.
    void setWritingCheck(WritingCheck check) { writingCheck_ = std::move(check); }
    // Runs the installed check. For writers outside this class (mark, sweep, repair).
    void confirmWriting() const {
        if (writingCheck_) writingCheck_();
    }

    // --- for operations outside this class that rewrite head or index (pruning, repair) ---

    // Holds the writing lock while the result lives: no writing operation of this repository
    // runs meanwhile. Do not call a writing operation of this repository while holding it.
    using WritingGuard = std::unique_lock<std::shared_mutex>;
    WritingGuard lockWriting();
    // Writes one index file of these sections, whose packs are already on the destination and
    // check, then adds them to the index (where a blob is already located, that location
    // stays). The writing check runs before the file is put in place. A write error or the
    // check's is thrown and leaves the index as it was.
    void addIndexFile(const std::vector<IndexFile::Section>& sections);

    // --- garbage collection (pruning) ---
    // The queries of the mark phase are defined in RepositoryCollecting.cpp, what the sweep
    // replaces in RepositorySweeping.cpp.

    // The snapshots of the head whose records read, open and convert, one for each listing,
    // in head order; the others are passed over. A snapshot the head lists more than once is
    // read and decoded once: its listings share that one snapshot, so memory follows the
    // distinct records, not the listings. Only what retention decides on is filled in (no
    // sources, only the file count of the stats).
    std::vector<std::shared_ptr<const Snapshot>> allSnapshots() const;
    // The bytes each snapshot adds to storage, packs estimated from the index: each pack is
    // charged once, to the newest snapshot that reaches it. Walk errors are thrown.
    StoredSizes storedSizes(const std::vector<std::shared_ptr<const Snapshot>>& snapshots) const;
    // Every tree and content blob the snapshots reach, their root trees included. Each tree
    // is read once however many snapshots share it; content blobs are never read. A record or
    // tree that cannot be read, opened or decoded throws that error.
    std::unordered_set<BlobID> reachableBlobs(const std::unordered_set<SnapshotID>& snapshots) const;
    // The same from root trees already known (records read once by the caller).
    std::unordered_set<BlobID> reachableBlobs(const std::vector<BlobID>& roots) const;
    // The pack files on the destination, by the identity their names give. Listing errors
    // are thrown.
    std::unordered_set<PackID> presentPackIDs() const;
    // Removes every "*.mark" file under "gc" but the run's own, the writing check run before
    // each removal; `removed` counts those removed, also when the check stops it part-way
    // (its error is thrown). A listing or removal that fails is passed over.
    void removeMarksOtherThan(const UUID& runID, std::int64_t& removed);
    // The newest mark under "gc" that opens (by markedAt; the first listed of equal ones), or
    // nothing. A listing error is thrown; files that do not open are passed over.
    std::optional<PrunerMark> latestMark() const;
    // The writing lock held through lockWriting() is asked for by the two operations below so
    // that nothing else writes while they read and replace what they own.
    // Writes a new signed head listing exactly these snapshots (counter + 1, refused with
    // HeadRecord::Error::counterExhausted at its largest value), then adopts it. With the new
    // head's bytes written, the writing check and checkHeadUnchanged run before they are put in
    // place. Their errors, and seal and write errors, are thrown and leave the head as it was.
    void setHead(const WritingGuard& writing, const std::vector<SnapshotID>& snapshots, Date now);
    // Writes one index file of every entry outside the excluded packs, then removes the
    // index files this repository loaded or wrote (never one it did not read, such as a file
    // another writer added since), then adopts the new index. Unflushed sections are part
    // of the new file. The writing check runs before the new file is put in place. Errors are
    // thrown; the in-memory index changes only at the end.
    void rewriteIndex(const WritingGuard& writing, const std::unordered_set<PackID>& excluding);

    // --- whole-file writes shared by every writer of repository files ---

    // openWrite, one write of all the data, commit. Errors pass through; a failed writer is
    // dropped without cancel(), and what it left in "tmp" stays there until a holder of the
    // writing lock clears the pending writes (discardCrashDebris).
    // With beforePutting, that runs with the bytes written and not yet at their path: when it
    // throws, the writer is cancelled and the file never appears.
    static void write(ByteView data, const RepoPath& path, Destination& destination,
                      const WritingCheck& beforePutting = {});
    // "Read Me First.txt" (rewritten every time: it carries the date) and "Repository
    // Format.md" (written when missing or of another size), each only where nothing is at its
    // path or the file there is this system's own (DriveReadMe::isOwnFile, judged without
    // following a link): a person's own file of that name is left as it is. Failures are
    // dropped, except what beforePutting throws (it runs before each of them is put in place,
    // as for write()).
    static void writeReadMe(Destination& destination, std::string_view version, const WritingCheck& beforePutting = {});
    // The operating system's version as "major.minor.patch".
    static std::string hostPlatform();

private:
    // The tests change the index behind the repository's back through this (tests/support).
    friend struct RepositoryTestAccess;

    // Adopt a head or change the index, after writing what the change records.
    void replaceHead(HeadRecord head);
    template <class Body>
    decltype(auto) modifyIndex(Body&& body) {
        std::unique_lock lock(stateMutex_);
        return body(index_);
    }
    void loadIndex();
    // In the index, the open pack or a pack waiting to be written.
    bool holds(const BlobID& id) const;
    // A pack written and verified: its blobs enter the index and the sections to flush.
    // Returns whether an index file is due.
    bool packWritten(IndexFile::Section section);
    void flushPendingIndex();
    // Depth-first walk from a tree: inserts it and every tree and content blob below it into
    // `visited`, calling newlyFound for each blob not there before. A tree already visited is
    // not read again.
    void collectReachable(const BlobID& tree, std::unordered_set<BlobID>& visited,
                          const std::function<void(const BlobID&)>& newlyFound) const;
    // Each pack's size estimated from the index: its largest blob end, plus the sealed
    // directory (45 bytes a blob) and its framing. Saturates instead of overflowing.
    std::unordered_map<PackID, std::int64_t> packSizesFromIndex() const;

    const std::shared_ptr<Destination> destination_;
    const RepositoryConfig config_;
    const std::shared_ptr<const RepositoryKeys> keys_;
    const BlobCipher cipher_;
    const DeviceID deviceID_;
    const std::string appVersion_;

    mutable std::shared_mutex stateMutex_;
    CompactIndex index_;
    HeadRecord head_;
    std::vector<IndexFile::Section> unflushedSections_;
    std::size_t unflushedEntryCount_ = 0;
    // The names of the index files whose entries are in index_: those loaded at opening and
    // those written since. Only these may be replaced by a rewrite.
    std::unordered_set<std::string> indexFiles_;

    WritingCheck writingCheck_;
    // Shared by store calls, held alone by every other writing operation.
    std::shared_mutex writerMutex_;
    std::unique_ptr<KeyFiles> keyFiles_;
    // Last, so that it (and a pack write still running on its helper thread) goes first.
    std::unique_ptr<PackStore> packs_;
};

// The config file, and a head or snapshot record, read only up to the most the format writes:
// a larger file is refused as malformed or unreadable before it is read.
Bytes readConfigFile(Destination& destination);
Bytes readSignedRecord(Destination& destination, const RepoPath& path);

}  // namespace wm

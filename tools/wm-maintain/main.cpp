// wm-maintain: runs repository maintenance from the command line, for tests, the
// demonstration and the benchmarks.
//
//   wm-maintain mark <repo> --secret-file F (--keep-last N | --keep-days D |
//                    --keep-smart H,D,M,Y | --keep-size BYTES | --keep-stored) [--now ISO8601]
//   wm-maintain sweep <repo> --secret-file F [--now ISO8601]
//   wm-maintain replicate <repo> <copy> --secret-file F
//   wm-maintain repair <repo> <copy> --secret-file F
//   wm-maintain status <repo> <copy> --secret-file F
//
// The secret file holds the passphrase or the recovery key, read as the headless restore
// reads it. Holds are the repository's own hold records; --keep-stored uses its retention
// setting. Each command prints one summary line and exits 0; a refusal or failure prints its
// sentence on standard error and exits 1; a usage error exits 2.
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "RememberedCounters.h"
#include "ToolFailure.h"
#include "ToolHost.h"
#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/BoundedList.h"
#include "core/Phrasing.h"
#include "core/RepositoryJSON.h"
#include "core/Unicode.h"
#include "crypto/Digest.h"
#include "engine/HeldWritingLock.h"
#include "engine/HoldRecord.h"
#include "engine/RetentionRecord.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryLayout.h"
#include "maintenance/Pruner.h"
#include "maintenance/Replicator.h"
#include "storage/LocalFolderDestination.h"

namespace {

using namespace wm;
using Phrasing::count;
using tools::inQuotes;
using tools::ToolRefusal;
using tools::UsageError;

const char* const kUsage =
    "usage: wm-maintain mark <repo> --secret-file F (--keep-last N | --keep-days D | --keep-smart H,D,M,Y |\n"
    "                        --keep-size BYTES | --keep-stored) [--now ISO8601]\n"
    "       wm-maintain sweep <repo> --secret-file F [--now ISO8601]\n"
    "       wm-maintain (replicate | repair | status) <repo> <copy> --secret-file F\n";

constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();

struct Options {
    std::string command;
    std::vector<std::string> folders;
    std::string secretFile;
    std::optional<RetentionPolicy> policy;
    bool keepStored = false;
    Date now = Date::now();
};

RetentionPolicy smartPolicy(const std::string& text) {
    std::vector<std::int64_t> counts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        counts.push_back(tools::parseNumber(part, "--keep-smart", 0, kMost));
    if (counts.size() != 4) throw UsageError("--keep-smart needs four numbers: hourly,daily,monthly,yearly");
    return RetentionPolicy::smart(counts[0], counts[1], counts[2], counts[3]);
}

Options parse(const tools::ToolArguments& arguments) {
    Options o;
    const auto& operands = arguments.operands();
    if (operands.empty()) throw UsageError("a command is needed");
    o.command = operands[0];
    o.folders.assign(operands.begin() + 1, operands.end());
    o.secretFile = arguments.value("--secret-file").value_or("");
    int rules = 0;
    if (auto n = arguments.number("--keep-last", 1, kMost)) o.policy = RetentionPolicy::lastN(*n), ++rules;
    if (auto n = arguments.number("--keep-days", 1, kMost)) o.policy = RetentionPolicy::duration(*n), ++rules;
    if (auto text = arguments.value("--keep-smart")) o.policy = smartPolicy(*text), ++rules;
    if (auto n = arguments.number("--keep-size", 1, kMost)) o.policy = RetentionPolicy::size(*n), ++rules;
    if (arguments.has("--keep-stored")) o.keepStored = true, ++rules;
    if (auto date = arguments.date("--now")) o.now = *date;

    const bool pruning = o.command == "mark" || o.command == "sweep";
    if (!pruning && o.command != "replicate" && o.command != "repair" && o.command != "status")
        throw UsageError("unknown command " + o.command);
    if (o.folders.size() != (pruning ? 1u : 2u))
        throw UsageError(o.command + " needs " + (pruning ? "a repository" : "a repository and a copy"));
    for (const auto& folder : o.folders)
        if (folder.empty()) throw UsageError("a folder cannot be an empty name");
    if (o.secretFile.empty()) throw UsageError("--secret-file is needed");
    if (o.command == "mark" && rules != 1) throw UsageError("mark needs exactly one retention rule");
    if (o.command != "mark" && rules != 0) throw UsageError("only mark takes a retention rule");
    return o;
}

// A copy folder is named by its path, so that every run against it writes the same
// replica state file.
DestinationID folderID(const std::string& folder) {
    const Digest256 digest = sha256(viewOf(std::filesystem::absolute(folder).lexically_normal().string()));
    UUID uuid;
    std::copy_n(digest.begin(), uuid.bytes.size(), uuid.bytes.begin());
    return DestinationID{uuid};
}

std::shared_ptr<Destination> folder(const std::string& path, bool preparing) {
    return tools::localFolder(path, folderID(path), preparing);
}

std::string dateText(Date date) { return RepositoryJSON::dateText(date); }

int mark(const Options& o, Repository& repository) {
    RetentionPolicy policy = o.policy.value_or(RetentionRecord::keepEverything());
    if (o.keepStored) policy = retentionPolicy(repository).value_or(RetentionRecord::keepEverything());
    const auto r = Pruner().mark(repository, policy, activeHolds(repository), o.now);
    std::cout << "marked: " << count(r.candidatePacks, "candidate pack") << ", " << tools::byteCount(r.candidateBytes)
              << ", " << count(r.retainedSnapshots, "snapshot") << " kept, " << r.prunableSnapshots
              << " prunable, sweep allowed from " << dateText(r.sweepAllowedFrom) << "\n";
    return 0;
}

int sweep(const Options& o, Repository& repository) {
    const Pruner::SweepReport r =
        Pruner().sweep(repository, RetentionRecord::keepEverything(), activeHolds(repository), o.now);
    std::cout << "swept: " << count(r.packsDeleted, "pack") << " deleted, " << tools::byteCount(r.bytesReclaimed)
              << " reclaimed, " << count(r.snapshotsDeleted, "snapshot") << " deleted, " << count(r.packsSpared, "pack")
              << " spared, " << count(r.packsHeld, "pack") << " held\n";
    return 0;
}

// Backups made into the copy stay listed there: the replication left the copy as it was. A
// copy may hold any number of them, each naming the device its record names, so the refusal
// lists the first whole ones within Unicode::shownTextBytes and counts the others.
void refuseBackupsMadeIntoCopy(const std::vector<ReplicationReport::CopyOnlyBackup>& made) {
    if (made.empty()) return;
    const bool one = made.size() == 1;
    const std::string opening =
        "The copy holds " + count(std::ssize(made), "backup") + " made into it that this backup does not have (";
    const std::string closing = std::string("), so the copy was left as it was. To keep ") + (one ? "it" : "them") +
                                ", restore what is needed from the copy, or copy this backup into another folder.";
    const std::size_t words = opening.size() + closing.size();
    BoundedList named(Unicode::shownTextBytes > words ? Unicode::shownTextBytes - words : 0);
    for (const auto& backup : made) {
        named.add(backup.createdAt ? dateText(*backup.createdAt) + " on " +
                                         inQuotes(Unicode::decodeUTF8RepairingWithin(viewOf(backup.deviceName),
                                                                                     Unicode::shownTextBytes))
                                   : "backup " + backup.id.value.uuidString() + " whose record cannot be read");
    }
    throw ToolRefusal(opening + named.phrase() + closing);
}

// Nothing is written through a link inside the copy, from its lock file on. Called while `e`
// is being handled: any other failure of the copy goes on as it was thrown.
[[noreturn]] void refuseCopyThroughLink(const DestinationError& e) {
    if (!LocalFolderDestination::isLinkRefusal(e)) throw;
    throw ToolRefusal("The copy's " + inQuotes(e.path.string()) +
                      " is a link inside the copy, or lies below one, so nothing was written through it. Put "
                      "the copy's own folders back, or copy into another folder.");
}

int replicate(const Repository& repository, const RepositoryKeys& keys, const std::shared_ptr<Destination>& copy,
              const HeldWritingLock& writingCopy, const std::string& secret) {
    const ReplicationReport r = Replicator().replicate(repository, *copy, keys, [&] { writingCopy.confirmHeld(); });
    refuseBackupsMadeIntoCopy(r.madeIntoCopy);
    // The copy counts only when it opens with the secret that opened the backup.
    bool opens = false;
    try {
        tools::unlock(copy, secret, tools::thisDevice(), Repository::Access::readOnly);
        opens = true;
    } catch (const std::exception&) {
    }
    const bool current = r.isCurrent && opens;
    std::cout << "replicated: " << count(r.packsCopied, "pack") << " copied, " << tools::byteCount(r.bytesCopied)
              << ", " << r.packsAlreadyPresent << " already present, " << r.failedObjects.size() << " failed, "
              << (current ? "current" : "not current") << "\n";
    if (current) return 0;
    std::vector<std::string> why;
    if (!r.failedObjects.empty())
        why.push_back(count(std::ssize(r.failedObjects), "pack") + " did not read back whole from the copy");
    if (!r.snapshotsNotWhole.empty())
        why.push_back(count(std::ssize(r.snapshotsNotWhole), "snapshot") +
                      " could not be read whole from the copy, so its list of snapshots was left as it was");
    if (r.sourceAdvancedDuringRun) why.push_back("the backup changed during the run");
    if (!opens) why.push_back("the copy does not open with the secret that opened the backup");
    if (why.empty()) why.push_back("the copy lists snapshots the backup does not, or lacks some of its data");
    std::string text;
    for (std::size_t k = 0; k < why.size(); ++k) text += (k == 0 ? "" : "; ") + why[k];
    throw ToolRefusal("The copy is not up to date: " + text + ". Run the copy again; if this stays, verify the copy.");
}

int repair(Repository& repository, const RepositoryKeys& keys, Destination& copy) {
    const auto plan = Replicator::planRepair(repository, copy, keys);
    const auto r =
        Replicator().repair(plan.packs, copy, *repository.destination(), keys, [&] { repository.confirmWriting(); });
    std::vector<PackID> fetched = r.repaired;
    fetched.insert(fetched.end(), plan.indexAgain.begin(), plan.indexAgain.end());
    std::vector<SnapshotID> unreadable;
    try {
        unreadable = Replicator::indexAgain(repository, fetched);
    } catch (WritingLockLost& lost) {
        if (!r.repaired.empty())
            lost.alreadyDone = "It had put back " + count(std::ssize(r.repaired), "pack") + " but not indexed them.";
        throw;
    }
    std::cout << "repaired: " << count(std::ssize(r.repaired), "pack") << ", " << r.refused.size() << " refused\n";
    if (unreadable.empty()) return 0;
    throw ToolRefusal(count(std::ssize(unreadable), "snapshot") +
                      " of this backup still cannot be read whole: the copy holds no sound copy of what " +
                      (unreadable.size() == 1 ? "it needs" : "they need") + ". Try another copy.");
}

int status(const Repository& repository, const RepositoryKeys& keys, Destination& copy) {
    const auto s = Replicator().inspect(copy, repository, keys);
    const std::string last = s.lastSnapshotAt ? ", last snapshot " + dateText(*s.lastSnapshotAt) : "";
    std::cout << "status: ";
    switch (s.kind) {
    case DestinationStatus::Kind::empty: std::cout << "empty"; break;
    case DestinationStatus::Kind::foreign: std::cout << "foreign repository " << s.found.hex(); break;
    case DestinationStatus::Kind::current: std::cout << "current, " << count(s.snapshots, "snapshot") << last; break;
    case DestinationStatus::Kind::behind:
        std::cout << "behind by " << count(s.snapshots, "snapshot") << ", " << tools::byteCount(s.bytesPending)
                  << " pending" << last;
        break;
    case DestinationStatus::Kind::ahead: std::cout << "ahead by " << count(s.snapshots, "snapshot"); break;
    case DestinationStatus::Kind::notReachable:
        std::cout << "not reachable: " << tools::readableSentence(s.reason);
        break;
    case DestinationStatus::Kind::unreadable: std::cout << "unreadable: " << tools::readableSentence(s.reason); break;
    }
    std::cout << "\n";
    return 0;
}

// Whether `inner` is the folder `outer` or lies below it, however either is spelled (device and
// inode of each folder above `inner`, links resolved). A folder not there yet lies nowhere.
bool liesIn(const std::string& inner, const std::string& outer) {
    struct stat home {};
    if (::stat(outer.c_str(), &home) != 0) return false;
    std::error_code ec;
    std::filesystem::path at = std::filesystem::weakly_canonical(std::filesystem::absolute(inner), ec);
    if (ec) at = std::filesystem::absolute(inner).lexically_normal();
    while (true) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0 && st.st_dev == home.st_dev && st.st_ino == home.st_ino) return true;
        if (at == at.parent_path()) return false;
        at = at.parent_path();
    }
}

// A copy is neither the repository nor inside it, nor does it hold the repository: pruning one
// would delete what the other keeps.
void refuseNestedCopy(const std::string& repository, const std::string& copy) {
    if (liesIn(copy, repository))
        throw ToolRefusal("The copy cannot go into the backup it copies (" + inQuotes(copy) + " lies in " +
                          inQuotes(repository) + "). Choose a folder outside it.");
    if (liesIn(repository, copy))
        throw ToolRefusal("The copy cannot hold the backup it copies (" + inQuotes(repository) + " lies in " +
                          inQuotes(copy) + "). Choose a folder that does not hold it.");
}

// Holds that cannot be read protect something unknown: nothing is pruned while there are any.
void refuseUnreadableHolds(const Repository& repository) {
    const std::int64_t unreadable = holds(repository).unreadable;
    if (unreadable == 0) return;
    throw ToolRefusal(count(unreadable, "hold record") + " of this backup cannot be read, so what " +
                      (unreadable == 1 ? "it protects" : "they protect") +
                      " is unknown and nothing was changed. Verify the backup, and place the holds again.");
}

int run(const Options& o) {
    const std::string secret = tools::readSecret(o.secretFile);
    const std::string& home = o.folders[0];
    // A copy that is there is a folder: a file in its place, a path below a file or a link to
    // nothing is neither an empty copy nor a drive that cannot be read.
    if (o.folders.size() == 2) {
        struct stat own {};
        struct stat target {};
        const char* copy = o.folders[1].c_str();
        const bool belowAFile = ::lstat(copy, &own) != 0 && errno == ENOTDIR;
        const bool notAFolder = ::lstat(copy, &own) == 0 && (::stat(copy, &target) != 0 || !S_ISDIR(target.st_mode));
        if (belowAFile || notAFolder)
            throw std::filesystem::filesystem_error("the copy", o.folders[1],
                                                    std::make_error_code(std::errc::not_a_directory));
    }
    // Nothing of a folder changes before it is known to hold a repository: its config is read
    // first through a destination that touches nothing.
    RepositoryConfig::decode(readConfigFile(*folder(home, false)));
    // Replication and status only read the primary: opened read-only, it is left exactly as
    // it is (a backup running meanwhile keeps its pending files).
    const bool readsOnly = o.command == "status" || o.command == "replicate";
    if (!readsOnly) tools::refuseLinkedFolders(home);
    // Mark, sweep and repair hold the repository's writing lock for their whole run, claimed
    // before anything is read for changing; a replication keeps sweeps out of the packs it reads.
    std::optional<HeldWritingLock> writing;
    std::optional<ReadingLock> reading;
    if (!readsOnly) {
        writing.emplace(home, folder(home, false),
                        o.command == "sweep" ? HeldWritingLock::Scope::sweeping : HeldWritingLock::Scope::writing,
                        tools::thisMachine());
    } else if (o.command == "replicate") {
        reading.emplace(home);
    }
    // A head older than the newest one these tools have seen here is refused: a repository put
    // back to an earlier state would have a sweep delete what the newer snapshots need.
    const tools::RememberedCounters remembered;
    const auto unlocked = tools::unlock(folder(home, !readsOnly), secret, tools::thisDevice(),
                                        readsOnly ? Repository::Access::readOnly : Repository::Access::readWrite,
                                        remembered.counter(*folder(home, false), home));
    remembered.refuseRollback(unlocked.verdict, home);
    Repository& repository = *unlocked.repository;
    remembered.remember(unlocked.keys.repositoryID, home, repository.counter());
    // A run that lost its lock (paused for longer than a lock stays fresh) stops before its next
    // step that makes something visible or deletes, the clearing of pending writes from "tmp" the first.
    if (writing) {
        repository.setWritingCheck([&writing] { writing->confirmHeld(); });
        repository.discardCrashDebris();
    }
    if (o.command == "mark" || o.command == "sweep") refuseUnreadableHolds(repository);
    if (o.command == "mark") return mark(o, repository);
    if (o.command == "sweep") {
        const int status = sweep(o, repository);
        remembered.remember(unlocked.keys.repositoryID, home, repository.counter());
        return status;
    }
    if (o.command == "replicate") {
        // The copy's folder is made when missing; below it, nothing is written through a link.
        refuseNestedCopy(home, o.folders[1]);
        std::filesystem::create_directories(o.folders[1]);
        const auto copy = std::make_shared<LocalFolderDestination>(
            folderID(o.folders[1]), DestinationKind::localFolder(), o.folders[1], std::nullopt,
            LocalFolderDestination::Preparation::readingOnly(), LocalFolderDestination::Reads::refusingLinks);
        try {
            // Another repository, or one without its config, is refused before anything is written.
            Replicator::checkTarget(unlocked.keys.repositoryID, *copy);
            const HeldWritingLock writingCopy(o.folders[1], copy, HeldWritingLock::Scope::writing,
                                              tools::thisMachine());
            return replicate(repository, unlocked.keys, copy, writingCopy, secret);
        } catch (const DestinationError& e) {
            refuseCopyThroughLink(e);
        }
    }
    const auto copy = folder(o.folders[1], false);
    if (o.command == "repair") return repair(repository, unlocked.keys, *copy);
    return status(repository, unlocked.keys, *copy);
}

}  // namespace

int main(int argc, char** argv) {
    const tools::ToolDescription tool{"wm-maintain",
                                      kUsage,
                                      {{"--secret-file", true},
                                       {"--keep-last", true},
                                       {"--keep-days", true},
                                       {"--keep-smart", true},
                                       {"--keep-size", true},
                                       {"--keep-stored", false},
                                       {"--now", true}}};
    return tools::runTool(tool, argc, argv,
                          [](const tools::ToolArguments& arguments) { return run(parse(arguments)); });
}

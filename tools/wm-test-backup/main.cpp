// wm-test-backup: makes backups for tests, the demonstration and benchmarks.
//
//   wm-test-backup <folder> <repository> [--passphrase-file F] [--recovery-key-file F]
//                  [--format-version 1|2] [--iterations N]
//
// With no repository at <repository>, one is created (format 2 unless --format-version says
// 1): always with a recovery key, whose text is written to the --recovery-key-file path
// (required then), and with a passphrase when --passphrase-file is given (its key
// derivation uses --iterations iterations). An existing repository is unlocked for writing
// with the passphrase file or, without one, with the recovery key read from
// --recovery-key-file. Then one snapshot of <folder> is committed.
//
// Secret files are read as the headless restore reads its secret file: UTF-8 text, with
// white space and line breaks around it ignored.
//
// The tool touches only repositories: the source is checked before anything is made, a new
// repository goes only into a new or empty folder (or one holding nothing but what a
// creation cut short leaves) outside the source, and a recovery-key file already there is
// never written over. A creation stopped at any moment is taken by the next run with the same
// arguments: before its config, what it left is made afresh; after it, the secrets given
// finish it (a recovery-key file that opens it is used again, a missing one written anew), or,
// proved this computer's (it remembers beginning the repository there), it is taken back and
// made afresh. It holds the repository's writing lock from before it reads the head until
// the snapshot is committed, and refuses a head older than this computer has seen in it. A
// run that lost its lock meanwhile (paused for longer than a lock stays fresh) records no
// snapshot and exits 1; the data it stored stays for the next run.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "RecoveryKeyFile.h"
#include "RememberedCounters.h"
#include "SnapshotBuilder.h"
#include "ToolHost.h"
#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/AppVersion.h"
#include "core/Hex.h"
#include "core/Phrasing.h"
#include "core/SystemCall.h"
#include "core/Unicode.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"
#include "crypto/SecureRandom.h"
#include "crypto/SymmetricKey.h"
#include "engine/HeldWritingLock.h"
#include "engine/KeyFiles.h"
#include "engine/Repository.h"
#include "format/CreationLeftovers.h"
#include "format/RepositoryLayout.h"
#include "storage/LocalFolderDestination.h"

namespace {

using namespace wm;
using tools::deviceName;
using tools::inQuotes;
using tools::readSecret;
using tools::thisDevice;
using tools::ToolRefusal;
using tools::UsageError;

struct Options {
    std::string folder;
    std::string repository;
    std::optional<std::string> passphraseFile;
    std::optional<std::string> recoveryKeyFile;
    std::int64_t formatVersion = 2;
    std::uint32_t iterations = Passphrase::defaultIterations;
};

const char* const kUsage =
    "usage: wm-test-backup <folder> <repository> [--passphrase-file F] [--recovery-key-file F]\n"
    "                      [--format-version 1|2] [--iterations N]\n";

Options parse(const tools::ToolArguments& arguments) {
    Options options;
    if (arguments.operands().size() != 2) throw UsageError("a folder and a repository are needed");
    options.folder = arguments.operands()[0];
    options.repository = arguments.operands()[1];
    if (options.folder.empty() || options.repository.empty()) throw UsageError("a folder cannot be an empty name");
    options.passphraseFile = arguments.value("--passphrase-file");
    options.recoveryKeyFile = arguments.value("--recovery-key-file");
    options.formatVersion = arguments.number("--format-version", 1, 2).value_or(2);
    options.iterations = static_cast<std::uint32_t>(
        arguments.number("--iterations", 1, Passphrase::maximumIterations).value_or(Passphrase::defaultIterations));
    return options;
}

std::string cutShort(const std::string& repository) {
    return "The creation of a backup in " + inQuotes(repository) +
           " was cut short before it was finished, and nothing given opens it. Delete the folder " +
           inQuotes(repository) + " and run again.";
}

// A new repository: its key files, config and head are written by the engine in an order that
// leaves, at any moment it stops, what the next run takes; the recovery key's text is kept in
// its file before the head makes the repository whole.
std::shared_ptr<Repository> createRepository(const std::shared_ptr<Destination>& destination, const Options& options,
                                             const DeviceID& device, const tools::RememberedCounters& remembered,
                                             const HeldWritingLock& lock) {
    if (!options.recoveryKeyFile) throw UsageError("creating a repository needs --recovery-key-file");
    std::optional<std::string> passphrase;
    if (options.passphraseFile) passphrase = readSecret(*options.passphraseFile);

    const SymmetricKey master = SymmetricKey::random();
    RepositoryID repositoryID;
    SecureRandom::fill(repositoryID.bytes);
    const RepositoryKeys keys(master, repositoryID);
    // A state folder that cannot be written stops the run before anything is written. What is
    // remembered here also proves a creation cut short to be this computer's.
    remembered.remember(repositoryID, options.repository, 0);

    const Date now = Date::now();
    const RecoveryKey recoveryKey = RecoveryKey::generate();
    std::vector<KeyFile> keyFiles{KeyFile::wrap(master, recoveryKey, repositoryID, std::nullopt, now)};
    std::optional<RepositoryConfig::KDF> kdf;
    if (passphrase) {
        // The slow derivation, before anything is written.
        const Passphrase::Settings settings = Passphrase::makeSettings(options.iterations);
        kdf = RepositoryConfig::KDF{settings.algorithm, settings.salt, settings.iterations};
        keyFiles.push_back(KeyFile::wrap(master, *passphrase, settings.salt, settings.iterations, std::nullopt, now));
    }
    const tools::RecoveryKeyFile keyFile(*options.recoveryKeyFile);
    auto repository =
        Repository::create(destination, keys, device, std::string(appVersion), kdf, options.formatVersion, now,
                           keyFiles, {[&lock] { lock.confirmHeld(); }, [&] { keyFile.write(recoveryKey.text()); }});
    std::cout << "created repository " << options.repository << " (format " << options.formatVersion << ")\n";
    return repository;
}

// A creation that stopped before its head. With the secrets it was made with, it is finished:
// a recovery-key file that opens it is used again, a missing one is written with a new key
// (the key file of the one never kept goes). Proved this run's to take (a secret given opens
// it, or this computer remembers beginning it there) but made with other secrets or none that
// can finish it, it is taken back and made afresh. Nothing proves it: refused, the folder left
// as it is.
std::shared_ptr<Repository> takeUnfinished(const std::shared_ptr<Destination>& destination, const Options& options,
                                           const DeviceID& device, const tools::RememberedCounters& remembered,
                                           const HeldWritingLock& lock) {
    if (!options.recoveryKeyFile) throw UsageError("finishing a repository needs --recovery-key-file");
    const std::optional<RepositoryConfig> config = Repository::unfinishedCreation(*destination);
    if (!config) throw Repository::Error::alreadyExists();
    const RepositoryID id = *config->identity();
    std::optional<std::string> passphrase;
    if (options.passphraseFile) passphrase = readSecret(*options.passphraseFile);

    std::optional<Repository::KeyOpening> byPassphrase;
    if (passphrase && config->kdf) byPassphrase = Repository::openKeyFile(*destination, *passphrase);
    const tools::RecoveryKeyFile keyFile(*options.recoveryKeyFile);
    const tools::RecoveryKeyFile::Found found = keyFile.read();
    std::optional<Repository::KeyOpening> byRecoveryKey;
    if (found.kind == tools::RecoveryKeyFile::Found::Kind::text) {
        try {
            byRecoveryKey = Repository::openKeyFile(*destination, RecoveryKey::parse(found.text));
        } catch (const RecoveryKeyError&) {
        }
        if (byRecoveryKey && byPassphrase && !(byRecoveryKey->keys.master == byPassphrase->keys.master))
            byRecoveryKey.reset();
    }
    if (!byPassphrase && !byRecoveryKey && !remembered.counter(id, options.repository))
        throw ToolRefusal(cutShort(options.repository));
    // A file there that does not open this creation is a person's, or another backup's key.
    if (found.kind != tools::RecoveryKeyFile::Found::Kind::nothing && !byRecoveryKey)
        throw ToolRefusal(tools::recoveryKeyFileExists(keyFile.path()));

    const Repository::WritingCheck check = [&lock] { lock.confirmHeld(); };
    const bool sameSecrets = passphrase.has_value() == config->kdf.has_value() && (!passphrase || byPassphrase);
    if (sameSecrets && (byPassphrase || byRecoveryKey)) {
        const RepositoryKeys keys = (byPassphrase ? byPassphrase : byRecoveryKey)->keys;
        remembered.remember(id, options.repository, 0);
        std::vector<KeyFile> kept;
        if (byPassphrase) kept.push_back(byPassphrase->keyFile);
        std::optional<RecoveryKey> newKey;
        if (byRecoveryKey) {
            kept.push_back(byRecoveryKey->keyFile);
        } else {
            newKey = RecoveryKey::generate();
            kept.push_back(KeyFile::wrap(keys.master, *newKey, id, std::nullopt, Date::now()));
        }
        // The recovery key's text lasts before the head makes the repository whole.
        const auto keepKey = [&] {
            if (newKey)
                keyFile.write(newKey->text());
            else
                keyFile.makeLasting();
        };
        auto repository = Repository::finishCreation(destination, keys, device, std::string(appVersion), Date::now(),
                                                     kept, {check, keepKey});
        std::cout << "created repository " << options.repository << " (format " << config->formatVersion << ")\n";
        return repository;
    }
    // The recovery-key file first: once the config is gone, nothing would prove it this tool's.
    if (byRecoveryKey && !keyFile.removeIfHolding(found.text))
        throw ToolRefusal("The recovery-key file " + inQuotes(keyFile.path()) +
                          " of a creation that was cut short could not be removed. Delete it and run again.");
    Repository::withdrawUnfinishedCreation(*destination, id, check);
    return createRepository(destination, options, device, remembered, lock);
}

std::shared_ptr<Repository> unlockRepository(const std::shared_ptr<Destination>& destination, const Options& options,
                                             const DeviceID& device, const tools::RememberedCounters& remembered) {
    const std::optional<std::uint64_t> counter = remembered.counter(*destination, options.repository);
    Repository::Unlocked unlocked = [&] {
        if (options.passphraseFile)
            return Repository::unlock(destination, readSecret(*options.passphraseFile), device, std::string(appVersion),
                                      counter, Repository::Access::readWrite);
        if (options.recoveryKeyFile)
            return Repository::unlock(destination, RecoveryKey::parse(readSecret(*options.recoveryKeyFile)), device,
                                      std::string(appVersion), counter, Repository::Access::readWrite);
        throw UsageError("opening a repository needs --passphrase-file or --recovery-key-file");
    }();
    remembered.refuseRollback(unlocked.verdict, options.repository);
    // Written before anything is stored, also when unchanged: a state folder that cannot be
    // written stops the run here.
    remembered.remember(unlocked.repository->keys().repositoryID, options.repository, unlocked.repository->counter());
    return std::move(unlocked.repository);
}

// A folder's device and inode.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

std::optional<FileIdentity> identityOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino};
}

// Whether the repository folder is the source or lies inside it, judged by the folders
// themselves (device and inode of the repository's nearest existing folder and of each of
// its parents up to the root), so that links and other names of one folder are seen through.
bool liesInside(const std::filesystem::path& repository, const FileIdentity& source) {
    std::filesystem::path nearest = std::filesystem::absolute(repository);
    std::error_code error;
    while (!std::filesystem::is_directory(nearest, error) && nearest.has_relative_path())
        nearest = nearest.parent_path();
    UniqueFd folder(::open(nearest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    while (folder.get() >= 0) {
        const std::optional<FileIdentity> here = identityOf(folder.get());
        if (!here) return false;
        if (*here == source) return true;
        UniqueFd parent(::openat(folder.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.get() < 0 || identityOf(parent.get()) == here) return false;  // the root is its own parent
        folder = std::move(parent);
    }
    return false;
}

// Refuses what must not become a new repository, before anything is written: a folder that
// holds anything but what a creation cut short leaves (CreationLeftovers) is the owner's, and
// so is a recovery-key file already there unless it proves to be a creation's that was cut
// short (takeUnfinished).
void checkNewRepository(const Options& options, bool unfinished) {
    std::error_code error;
    if (!unfinished && std::filesystem::exists(std::filesystem::symlink_status(*options.recoveryKeyFile, error)))
        throw ToolRefusal(tools::recoveryKeyFileExists(*options.recoveryKeyFile));
    if (!std::filesystem::is_directory(options.repository, error)) return;
    const auto folder = tools::localFolder(options.repository, DestinationID::random(), false);
    std::optional<RepoPath> foreign;
    try {
        foreign = CreationLeftovers::firstForeignEntry(*folder, CreationLeftovers::OtherNames::refused);
    } catch (const DestinationError& e) {
        // Without the system's reason, the product's sentence for the error says what happened.
        if (e.underlying.empty()) throw;
        throw ToolRefusal("The folder " + inQuotes(options.repository) + " could not be read (" + e.underlying + ").");
    }
    if (foreign)
        throw ToolRefusal("The folder " + inQuotes(options.repository) +
                          " holds other files and no backup. A new backup goes into a new or empty folder.");
}

int run(const Options& options) {
    // Look before touching anything on disk: the source first.
    const UniqueFd source(::open(options.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::optional<FileIdentity> sourceIdentity = source.get() >= 0 ? identityOf(source.get()) : std::nullopt;
    if (!sourceIdentity) throw ToolRefusal(inQuotes(options.folder) + " is not a folder that can be backed up.");
    if (liesInside(options.repository, *sourceIdentity))
        throw ToolRefusal("The backup " + inQuotes(options.repository) + " would lie inside the folder it backs up, " +
                          inQuotes(options.folder) + ". Choose a backup folder outside it.");
    const auto folder = tools::localFolder(options.repository, DestinationID::random(), false);
    const bool exists = folder->exists(RepositoryLayout::configFile());
    // A config without a head beside it: a creation cut short, finished or taken under the lock.
    const bool unfinished = exists && Repository::unfinishedCreation(*folder).has_value();
    const bool creating = !exists || unfinished;
    if (creating && !options.recoveryKeyFile) throw UsageError("creating a repository needs --recovery-key-file");
    if (!creating && !options.passphraseFile && !options.recoveryKeyFile)
        throw UsageError("opening a repository needs --passphrase-file or --recovery-key-file");
    if (creating) checkNewRepository(options, unfinished);
    tools::refuseLinkedFolders(options.repository);

    // A passphrase the key derivation refuses is refused before anything is written.
    if (creating && options.passphraseFile)
        Passphrase::deriveKey(readSecret(*options.passphraseFile), Bytes(Passphrase::saltSize), 1);

    // Without a folder to remember head counters in, nothing is made.
    const tools::RememberedCounters remembered;
    // The folder must be there to be locked; nothing else is made before the lock is held.
    std::error_code made;
    std::filesystem::create_directories(options.repository, made);
    if (made)
        throw ToolRefusal("Wendle Marsh could not make or write the folder " + inQuotes(options.repository) + " (" +
                          made.message() + "). Check the location is connected, is not full, and is not read only.");
    const HeldWritingLock lock(options.repository,
                               tools::localFolder(options.repository, DestinationID::random(), false),
                               HeldWritingLock::Scope::writing, tools::thisMachine());
    // A new repository's folders are made under the lock.
    const std::shared_ptr<Destination> destination =
        tools::localFolder(options.repository, DestinationID::random(), !exists);
    const DeviceID device = thisDevice();
    // Nothing in "tmp" goes before there is a repository: in a folder that holds none yet, it
    // is the owner's. What a creation cut short left there goes at the next run.
    const auto repository = !exists      ? createRepository(destination, options, device, remembered, lock)
                            : unfinished ? takeUnfinished(destination, options, device, remembered, lock)
                                         : unlockRepository(destination, options, device, remembered);
    // Nothing of the snapshot appears, and nothing in "tmp" goes, once the lock is no longer
    // this run's.
    repository->setWritingCheck([&lock] { lock.confirmHeld(); });
    if (exists) repository->discardCrashDebris();

    SnapshotBuilder builder(*repository, options.folder);
    const SnapshotBuilder::Result result = builder.run(deviceName());
    // The snapshot is committed: its line is printed even when the counter cannot be kept.
    std::exception_ptr notRemembered;
    try {
        remembered.remember(repository->keys().repositoryID, options.repository, repository->counter());
    } catch (const ToolRefusal&) {
        notRemembered = std::current_exception();
    }
    for (const auto& p : result.problems) std::cerr << "wm-test-backup: " << p << "\n";
    const SnapshotStats& s = result.stats;
    std::cout << "snapshot " << result.id.value.uuidString() << "\n"
              << Phrasing::count(s.files, "file") << ", " << Phrasing::count(s.directories, "folder") << ", "
              << tools::byteCount(s.bytesLogical) << " (" << tools::byteCount(s.bytesNew) << " new, "
              << tools::byteCount(s.bytesDeduplicated) << " deduplicated), " << s.unreadableFiles << " unreadable, "
              << s.unstableFiles << " unstable\n"
              << std::flush;
    if (notRemembered) std::rethrow_exception(notRemembered);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Two allocator pools instead of one per thread: with a dozen threads reading, sealing
    // and writing, chunk-sized blocks freed into per-thread pools would stay there and add
    // tens of megabytes to the peak.
    ::mallopt(M_ARENA_MAX, 2);
    const tools::ToolDescription tool{"wm-test-backup",
                                      kUsage,
                                      {{"--passphrase-file", true},
                                       {"--recovery-key-file", true},
                                       {"--format-version", true},
                                       {"--iterations", true}}};
    return tools::runTool(tool, argc, argv,
                          [](const tools::ToolArguments& arguments) { return run(parse(arguments)); });
}

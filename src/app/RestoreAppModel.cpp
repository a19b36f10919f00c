#include "app/RestoreAppModel.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <unordered_set>

#include "app/AppPaths.h"
#include "core/AppVersion.h"
#include "core/Localization.h"
#include "core/TextTrimming.h"
#include "core/Unicode.h"
#include "core/UserPresentableError.h"
#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "engine/Repository.h"
#include "format/RepositoryPresentation.h"
#include "restore/RestoreSafety.h"
#include "restore/RestoreSelection.h"
#include "storage/LocalFolderDestination.h"

namespace wm {

bool RestoreAppModel::State::canOpen() const {
    return !TextTrimming::horizontal(backupPath).empty() && !TextTrimming::horizontal(secret).empty();
}

bool RestoreAppModel::State::canRestore() const {
    return chosen.has_value() && !TextTrimming::horizontal(restoreInto).empty();
}

RestoreAppModel::RestoreAppModel() = default;
RestoreAppModel::~RestoreAppModel() = default;

const std::string& RestoreAppModel::wrongSecretSentence() {
    static const std::string sentence = WM_L(
        "That does not open this backup. If you typed a passphrase, check it and try again. "
        "If you typed a recovery key, check every group.");
    return sentence;
}

std::string RestoreAppModel::noPassphraseSentence() { return WM_L(RepositoryPresentation::noPassphraseText); }

std::string RestoreAppModel::emptyBackupSentence() { return WM_L("This backup has nothing in it yet."); }

std::string RestoreAppModel::sentence(const std::exception& error) {
    if (dynamic_cast<const KeyFile::Error*>(&error)) return wrongSecretSentence();
    if (const auto* repositoryError = dynamic_cast<const Repository::Error*>(&error)) {
        if (repositoryError->kind == Repository::Error::Kind::noPassphraseSet) return noPassphraseSentence();
    }
    // Errors that word themselves.
    if (const auto* presentable = dynamic_cast<const UserPresentableError*>(&error)) return presentable->userSentence();
    if (dynamic_cast<const wm::Error*>(&error)) {
        // The storage, format and engine errors have their sentences in one place. Where that
        // place has no sentence of its own for an error, it appends the error's description,
        // which names a type and a case: that is for developers, never for the person.
        std::string worded = RepositoryPresentation::sentence(error);
        const std::string_view description = error.what();
        if (description.empty() || !worded.ends_with(description)) return worded;
        return WM_L("Part of the backup is damaged and could not be read.");
    }
    return WM_L("Something went wrong that Wendle Marsh did not expect. The backup was not changed; try again.");
}

std::string RestoreAppModel::targetSentence(const std::string& folder, std::error_code code) {
    switch (code.value()) {
    case ENOTDIR:
    case EEXIST:
        return WM_L(
            "Wendle Marsh cannot restore into %@: part of that path is a file, not a folder. Choose "
            "another folder.",
            folder);
    case EACCES:
    case EPERM:
        return WM_L(
            "Wendle Marsh does not have permission to make %@. Choose a folder you own, such as one "
            "inside your home folder.",
            folder);
    case EROFS:
        return WM_L("Wendle Marsh cannot make %@ because that drive is read only. Choose another folder.", folder);
    case ENOSPC:
    case EDQUOT: return WM_L("Wendle Marsh cannot make %@ because that drive is full. Choose another folder.", folder);
    case ENAMETOOLONG:
        return WM_L("Wendle Marsh cannot make %@ because its path is too long. Choose a shorter one.", folder);
    default:
        return WM_L(
            "Wendle Marsh could not make %@ to restore into. Check that the drive is connected, or "
            "choose another folder.",
            folder);
    }
}

DeviceID RestoreAppModel::device() {
    DeviceID id;
    id.bytes.fill(0x5E);
    return id;
}

// Reading -----------------------------------------------------------------------------

RestoreAppModel::State RestoreAppModel::state() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

std::string RestoreAppModel::backupPath() const {
    std::lock_guard lock(stateMutex_);
    return state_.backupPath;
}

std::string RestoreAppModel::secret() const {
    std::lock_guard lock(stateMutex_);
    return state_.secret;
}

std::string RestoreAppModel::restoreInto() const {
    std::lock_guard lock(stateMutex_);
    return state_.restoreInto;
}

RestoreAppModel::Phase RestoreAppModel::phase() const {
    std::lock_guard lock(stateMutex_);
    return state_.phase;
}

void RestoreAppModel::readPhase(const std::function<void(const Phase&)>& read) const {
    std::lock_guard lock(stateMutex_);
    read(state_.phase);
}

std::vector<RestoreAppModel::Backup> RestoreAppModel::backups() const {
    std::lock_guard lock(stateMutex_);
    return state_.backups;
}

std::optional<SnapshotID> RestoreAppModel::chosen() const {
    std::lock_guard lock(stateMutex_);
    return state_.chosen;
}

std::optional<std::string> RestoreAppModel::problem() const {
    std::lock_guard lock(stateMutex_);
    return state_.problem;
}

bool RestoreAppModel::hasRepository() const {
    std::lock_guard lock(stateMutex_);
    return repository_ != nullptr;
}

bool RestoreAppModel::canOpen() const {
    std::lock_guard lock(stateMutex_);
    return state_.canOpen();
}

bool RestoreAppModel::canRestore() const {
    std::lock_guard lock(stateMutex_);
    return state_.canRestore();
}

bool RestoreAppModel::isRunning() const {
    std::lock_guard lock(stateMutex_);
    return running_;
}

// Changing ----------------------------------------------------------------------------

template <class Change>
void RestoreAppModel::update(Property property, Change&& change) {
    std::lock_guard ordered(changeMutex_);
    {
        std::lock_guard lock(stateMutex_);
        if (!change()) return;
        ++state_.revision;
    }
    std::lock_guard observing(observerMutex_);
    // Only an observer gets a copy of the state (with a finished restore's report); no other
    // change comes between, as changes are made one at a time.
    if (observer_) observer_(property, state());
}

namespace {

template <class T>
bool assignIfDifferent(T& field, T value) {
    if (field == value) return false;
    field = std::move(value);
    return true;
}

}  // namespace

void RestoreAppModel::setBackupPath(std::string value) {
    update(Property::backupPath, [&] { return assignIfDifferent(state_.backupPath, std::move(value)); });
}

void RestoreAppModel::setSecret(std::string value) {
    update(Property::secret, [&] { return assignIfDifferent(state_.secret, std::move(value)); });
}

void RestoreAppModel::setRestoreInto(std::string value) {
    update(Property::restoreInto, [&] { return assignIfDifferent(state_.restoreInto, std::move(value)); });
}

void RestoreAppModel::setChosen(std::optional<SnapshotID> value) {
    update(Property::chosen, [&] { return assignIfDifferent(state_.chosen, value); });
}

void RestoreAppModel::setProblem(std::optional<std::string> value) {
    update(Property::problem, [&] { return assignIfDifferent(state_.problem, std::move(value)); });
}

void RestoreAppModel::setPhase(Phase value) {
    update(Property::phase, [&] {
        state_.phase = std::move(value);
        return true;
    });
}

void RestoreAppModel::setObserver(Observer observer) {
    std::lock_guard lock(observerMutex_);
    observer_ = std::move(observer);
}

bool RestoreAppModel::beginOperation() {
    std::lock_guard lock(stateMutex_);
    if (running_) return false;
    running_ = true;
    return true;
}

void RestoreAppModel::endOperation() {
    std::lock_guard lock(stateMutex_);
    running_ = false;
}

namespace {

// Clears the running flag however an operation ends.
template <class End>
struct OnExit {
    End end;
    ~OnExit() { end(); }
};
template <class End>
OnExit(End) -> OnExit<End>;

}  // namespace

// The two operations -------------------------------------------------------------------

std::vector<RestoreAppModel::Backup> RestoreAppModel::loadBackups(Repository& repository, std::size_t& unreadable) {
    std::vector<Backup> rows;
    unreadable = 0;
    std::exception_ptr firstError;
    std::unordered_set<SnapshotID> seen;
    for (const SnapshotID& id : repository.snapshotIDs()) {
        // A snapshot the head lists again is read and shown once, at its first listing.
        if (!seen.insert(id).second) continue;
        // One damaged or missing record hides only its own backup.
        std::optional<SnapshotRecord> read;
        try {
            read = repository.snapshot(id);
        } catch (const std::exception&) {
            if (!firstError) firstError = std::current_exception();
            ++unreadable;
            continue;
        }
        const SnapshotRecord& record = *read;
        Backup row;
        row.id = id;
        row.createdAt = record.createdAt;
        row.files = record.stats.files;
        row.bytes = record.stats.bytesLogical;
        for (const auto& source : record.sources) row.folders.push_back(Unicode::decodeUTF8Repairing(source.path));
        rows.push_back(std::move(row));
    }
    if (rows.empty() && firstError) std::rethrow_exception(firstError);
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Backup& a, const Backup& b) { return a.createdAt > b.createdAt; });
    return rows;
}

void RestoreAppModel::open() {
    if (!beginOperation()) return;
    OnExit done{[this] { endOperation(); }};

    setProblem(std::nullopt);
    setPhase(Phase::opening());
    const State now = state();
    const std::string path = TextTrimming::horizontal(now.backupPath);
    const std::string keyText = TextTrimming::horizontal(now.secret);

    bool unlocked = false;
    try {
        const std::string folder = AppPaths::standardised(path);
        auto destination =
            std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), folder,
                                                     std::nullopt, LocalFolderDestination::Preparation::readingOnly());

        // A text that parses as a recovery key is never tried as a passphrase; one that
        // does not is not an error, it is a passphrase.
        std::optional<RecoveryKey> recoveryKey;
        try {
            recoveryKey = RecoveryKey::parse(keyText);
        } catch (const RecoveryKeyError&) {
        }
        std::shared_ptr<Repository> repository =
            recoveryKey ? Repository::unlock(destination, *recoveryKey, device(), std::string(appVersion), std::nullopt,
                                             Repository::Access::readOnly)
                              .repository
                        : Repository::unlock(destination, keyText, device(), std::string(appVersion), std::nullopt,
                                             Repository::Access::readOnly)
                              .repository;

        update(Property::repository, [&] {
            repository_ = repository;
            repositoryFolder_ = folder;
            return true;
        });
        unlocked = true;
        setSecret("");

        std::size_t unreadable = 0;
        std::vector<Backup> rows = loadBackups(*repository, unreadable);
        const bool empty = rows.empty();
        std::optional<SnapshotID> newest = empty ? std::nullopt : std::optional(rows.front().id);
        update(Property::backups, [&] {
            state_.backups = std::move(rows);
            return true;
        });
        setChosen(newest);
        if (empty) {
            setPhase(Phase::closed());
            setProblem(emptyBackupSentence());
        } else {
            setPhase(Phase::open());
            if (unreadable == 1) setProblem(WM_L("1 backup could not be read, so it is not listed."));
            if (unreadable > 1)
                setProblem(WM_L("%lld backups could not be read, so they are not listed.",
                                static_cast<long long>(unreadable)));
        }
    } catch (const std::exception& error) {
        // Whatever was open before belongs to another backup than the one now named: its
        // list and choice must not stay, or a restore would put back the earlier backup's
        // files under the new name.
        if (!unlocked) {
            update(Property::repository, [&] {
                const bool had = repository_ != nullptr;
                repository_.reset();
                repositoryFolder_.clear();
                return had;
            });
        }
        update(Property::backups, [&] {
            const bool had = !state_.backups.empty();
            state_.backups.clear();
            return had;
        });
        setChosen(std::nullopt);
        setPhase(Phase::closed());
        setProblem(sentence(error));
    }
}

void RestoreAppModel::restore(std::optional<CheckedTarget> checkedTarget) {
    if (!beginOperation()) return;
    OnExit done{[this] { endOperation(); }};

    std::shared_ptr<Repository> repository;
    std::optional<SnapshotID> snapshot;
    std::string repositoryFolder;
    std::string into;
    {
        std::lock_guard lock(stateMutex_);
        repository = repository_;
        snapshot = state_.chosen;
        repositoryFolder = repositoryFolder_;
        into = state_.restoreInto;
    }
    if (!repository || !snapshot) return;

    setProblem(std::nullopt);
    setPhase(Phase::restoring());
    const std::string target = AppPaths::standardised(TextTrimming::horizontal(into));

    // Nothing is ever written into the backup that is being read, whether the target is
    // named directly or reached through a symbolic link.
    if (RestoreSafety::isInside(target, repositoryFolder) ||
        RestoreSafety::isInside(AppPaths::resolvedAsFarAsItExists(target),
                                AppPaths::resolvedAsFarAsItExists(repositoryFolder))) {
        setPhase(Phase::open());
        setProblem(RestoreSafety::Refusal::insideTheBackup().sentence());
        return;
    }

    try {
        RestoreCoordinator coordinator(std::filesystem::path{repositoryFolder});
        RestoreCoordinator::Result result =
            coordinator.restore(*snapshot, *repository, target, RestoreSelection{}, checkedTarget);
        setPhase(Phase::finished(std::move(result), target));
    } catch (const std::filesystem::filesystem_error& error) {
        // Only the target folder is reached by path; every other write goes through its handle.
        setPhase(Phase::open());
        setProblem(targetSentence(target, error.code()));
    } catch (const std::exception& error) {
        setPhase(Phase::open());
        setProblem(sentence(error));
    }
}

void RestoreAppModel::startAgain() {
    bool any;
    {
        std::lock_guard lock(stateMutex_);
        any = !state_.backups.empty();
    }
    setPhase(any ? Phase::open() : Phase::closed());
    setProblem(std::nullopt);
}

void RestoreAppModel::showForScreenshot(std::vector<Backup> rows) {
    std::optional<SnapshotID> first = rows.empty() ? std::nullopt : std::optional(rows.front().id);
    update(Property::backups, [&] {
        state_.backups = std::move(rows);
        return true;
    });
    setChosen(first);
    setPhase(Phase::open());
}

}  // namespace wm

#pragma once
// The whole state of the restore window and its two long operations: opening (unlocking)
// a backup in a folder, and restoring one of its snapshots into another folder.
//
// open() and restore() are plain blocking calls. The command-line modes and the tests
// call them directly; the window runs them on a worker thread. Every change is handed to
// the observer as a copy of the whole state, in the order the changes happened, so the
// window can apply them on its own thread. At most one open or restore runs at a time:
// a call made while one runs is ignored.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "core/Date.h"
#include "core/Identifiers.h"
#include "restore/RestoreCoordinator.h"

namespace wm {

class Repository;

class RestoreAppModel {
public:
    // One row of the backup list.
    struct Backup {
        SnapshotID id;
        Date createdAt;
        std::uint64_t files = 0;
        std::uint64_t bytes = 0;
        std::vector<std::string> folders;  // source paths, decoded as UTF-8 with repair

        friend bool operator==(const Backup&, const Backup&) = default;
    };

    // Where the window is in its flow.
    struct Phase {
        enum class Kind { closed, opening, open, restoring, finished };
        Kind kind = Kind::closed;
        // finished only: the result and the folder it went into (standardised path).
        RestoreCoordinator::Result result;
        std::string into;

        static Phase closed() { return Phase{}; }
        static Phase opening() { return Phase{Kind::opening, {}, {}}; }
        static Phase open() { return Phase{Kind::open, {}, {}}; }
        static Phase restoring() { return Phase{Kind::restoring, {}, {}}; }
        static Phase finished(RestoreCoordinator::Result result, std::string into) {
            return Phase{Kind::finished, std::move(result), std::move(into)};
        }
        // An open or a restore is in progress.
        bool isBusy() const { return kind == Kind::opening || kind == Kind::restoring; }
    };

    // Every observed property at one moment.
    struct State {
        std::string backupPath;
        std::string secret;
        std::string restoreInto;
        Phase phase;
        std::vector<Backup> backups;
        std::optional<SnapshotID> chosen;
        std::optional<std::string> problem;
        // Counts every change; a later state has a larger number.
        std::uint64_t revision = 0;

        // backupPath and secret are both non-empty after trimming.
        bool canOpen() const;
        // chosen is set and restoreInto is non-empty after trimming.
        bool canRestore() const;
    };

    enum class Property { backupPath, secret, restoreInto, phase, backups, chosen, problem, repository };
    // Called after each change, on the thread that made it, with the state just after
    // the change. It must not change the model.
    using Observer = std::function<void(Property, const State&)>;

    RestoreAppModel();
    ~RestoreAppModel();
    RestoreAppModel(const RestoreAppModel&) = delete;
    RestoreAppModel& operator=(const RestoreAppModel&) = delete;

    // "That does not open this backup. ..." in the current language; made once.
    static const std::string& wrongSecretSentence();
    static std::string noPassphraseSentence();
    static std::string emptyBackupSentence();
    // The one user sentence for an error: the wrong-secret sentence for any key-file
    // error, the no-passphrase sentence for a repository without passphrase settings,
    // otherwise the error's own sentence: an error that words itself gives its own, an
    // error of the storage, format or engine layers the repository's sentence for it. A
    // type or case name never reaches the person.
    static std::string sentence(const std::exception& error);
    // What the person reads when the folder to restore into cannot be made; names it.
    static std::string targetSentence(const std::string& folder, std::error_code code);
    // The device identity handed to every unlock: sixteen bytes of 0x5E.
    static DeviceID device();

    State state() const;
    std::string backupPath() const;
    std::string secret() const;
    std::string restoreInto() const;
    Phase phase() const;
    // Hands the phase to read under the model's lock, so a finished restore's report is read
    // without a copy. read must not use the model.
    void readPhase(const std::function<void(const Phase&)>& read) const;
    std::vector<Backup> backups() const;
    std::optional<SnapshotID> chosen() const;
    std::optional<std::string> problem() const;
    bool hasRepository() const;
    bool canOpen() const;
    bool canRestore() const;
    // An open or a restore is running.
    bool isRunning() const;

    // Equal values are stored without notifying.
    void setBackupPath(std::string value);
    void setSecret(std::string value);
    void setRestoreInto(std::string value);
    void setChosen(std::optional<SnapshotID> value);
    void setProblem(std::optional<std::string> value);
    // Always notifies. For the screenshots and tests; the flow sets it itself.
    void setPhase(Phase value);

    // Unlocks the backup named by backupPath with secret and lists its backups. Every
    // outcome arrives through phase and problem; nothing is thrown.
    void open();
    // Restores chosen into restoreInto, whole. Does nothing without an open backup or a
    // chosen one. A target that is the backup folder or lies inside it is refused
    // before anything is written, and so is one that is not what checkedTarget found.
    void restore(std::optional<CheckedTarget> checkedTarget = std::nullopt);
    // Leaves the report: back to the list, or to the open form when there is none.
    void startAgain();
    // Puts a list on show without a repository (demonstration pictures).
    void showForScreenshot(std::vector<Backup> backups);

    void setObserver(Observer observer);

private:
    // Serialises open() and restore(): returns false when one already runs.
    bool beginOperation();
    void endOperation();
    // Applies change to the state under the lock, then tells the observer. change
    // returns whether anything changed (equal values are stored silently).
    template <class Change>
    void update(Property property, Change&& change);
    // Builds the sorted rows of a repository from every snapshot record that reads and
    // verifies, one row for each snapshot however often the head lists it; unreadable counts
    // the others. When there are records and not one of them reads, the first one's error is
    // thrown.
    static std::vector<Backup> loadBackups(Repository& repository, std::size_t& unreadable);

    mutable std::mutex stateMutex_;  // guards state_, repository_, repositoryFolder_
    // Held while a change is made and delivered, so observers see changes in order.
    std::mutex changeMutex_;
    std::mutex observerMutex_;
    State state_;
    std::shared_ptr<Repository> repository_;
    std::string repositoryFolder_;  // standardised path of the open repository's folder
    bool running_ = false;          // guarded by stateMutex_
    Observer observer_;             // guarded by observerMutex_
};

}  // namespace wm

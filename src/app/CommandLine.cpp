#include "app/CommandLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>

#include "app/AppPaths.h"
#include "app/RestoreAppModel.h"
#include "app/WindowText.h"
#include "core/AppVersion.h"
#include "core/Localization.h"
#include "core/SecretFile.h"
#include "core/SystemCall.h"
#include "core/TextTrimming.h"
#include "core/Unicode.h"

namespace wm::CommandLine {

namespace {

constexpr const char* kSelfCheck = "--self-check";
constexpr const char* kHeadless = "--headless-restore";
constexpr const char* kScreenshots = "--screenshots";

std::string problemOrNoReason(const std::optional<std::string>& problem) {
    return problem ? *problem : std::string("no reason given");
}

// Which backup the restore puts back, by its date as the window's list shows it.
std::string restoringWhich(const RestoreAppModel& model) {
    const auto chosen = model.chosen();
    for (const RestoreAppModel::Backup& backup : model.backups())
        if (backup.id == chosen)
            return WM_L("Restoring the newest backup that could be read, from %@.",
                        WindowText::dateLine(backup.createdAt));
    return {};
}

}  // namespace

Mode choose(const std::vector<std::string>& arguments) {
    Mode mode;
    for (const auto& argument : arguments) {
        if (argument == kSelfCheck) {
            mode.kind = Mode::Kind::selfCheck;
            return mode;
        }
    }
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != kHeadless) continue;
        // Only the first occurrence counts; with fewer than three arguments after it
        // the mode is passed over.
        if (i + 3 < arguments.size()) {
            mode.kind = Mode::Kind::headlessRestore;
            mode.backupFolder = arguments[i + 1];
            mode.targetFolder = arguments[i + 2];
            mode.secretFile = arguments[i + 3];
            return mode;
        }
        break;
    }
    for (std::size_t j = 0; j < arguments.size(); ++j) {
        if (arguments[j] != kScreenshots) continue;
        if (j + 1 < arguments.size()) {
            mode.kind = Mode::Kind::screenshots;
            mode.screenshotFolder = arguments[j + 1];
            return mode;
        }
        break;
    }
    return mode;
}

int runSelfCheck(std::ostream& out, std::ostream& err) {
    const std::string& sentence = RestoreAppModel::wrongSecretSentence();
    if (sentence.find("passphrase") != std::string::npos && sentence.find("recovery key") != std::string::npos) {
        out << "Wendle Marsh Restore " << appVersion << ": starts, sentences resolve\n";
        out.flush();
        return 0;
    }
    err << "resource bundles did not resolve: " << sentence << "\n";
    err.flush();
    return 1;
}

std::optional<std::string> windowRefusal() {
    auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM")) return std::nullopt;
    return WM_L(
        "The window needs a graphical session and none was found; to restore without a window, run "
        "wmrestore --headless-restore <backup> <into> <secret-file>.");
}

SecretFile readSecretFile(const std::string& path) {
    const auto contents = wm::SecretFile::read(path);
    if (!contents.failure) return SecretFile{contents.secret, std::nullopt};
    auto refused = [&](std::string sentence) { return SecretFile{"", std::move(sentence)}; };
    switch (*contents.failure) {
    case wm::SecretFile::Failure::missing: return refused(WM_L("The secret file \"%@\" does not exist.", path));
    case wm::SecretFile::Failure::unreadable:
        return refused(
            WM_L("The secret file \"%@\" could not be read: %@.", path, systemErrorText(contents.errorNumber)));
    case wm::SecretFile::Failure::notRegularFile:
        return refused(
            WM_L("The secret file \"%@\" is not a regular file. Name a file that holds the passphrase "
                 "or the recovery key.",
                 path));
    case wm::SecretFile::Failure::tooLarge:
        return refused(
            WM_L("The secret file \"%@\" is larger than %lld bytes, too large to hold a passphrase or a "
                 "recovery key.",
                 path, static_cast<long long>(secretFileLimit)));
    case wm::SecretFile::Failure::notUTF8: break;
    }
    return refused(WM_L("The secret file \"%@\" is not UTF-8 text.", path));
}

std::optional<std::string> targetRefusal(const std::string& target, CheckedTarget* checked) {
    const std::string trimmed = TextTrimming::horizontal(target);
    std::string_view text = trimmed;
    while (text.size() > 1 && text.ends_with('/')) text.remove_suffix(1);
    const std::string_view last = text.substr(text.rfind('/') == std::string_view::npos ? 0 : text.rfind('/') + 1);
    if (last == "." || last == "..")
        return WM_L("\"%@\" is not a new folder. Name a new folder to restore into.", target);

    const std::string path = AppPaths::standardised(TextTrimming::horizontal(target));
    struct stat st;
    if (retryingOnInterrupt([&] { return ::lstat(path.c_str(), &st); }) != 0) {
        if (checked) checked->found = std::nullopt;  // a new folder, which the restore makes
        return std::nullopt;
    }
    if (S_ISLNK(st.st_mode))
        return WM_L("\"%@\" is a symbolic link, which is not followed. Name a new folder to restore into.", target);
    if (!S_ISDIR(st.st_mode))
        return WM_L("\"%@\" already exists and is not a folder. Name a new folder to restore into.", target);
    std::error_code error;
    if (!std::filesystem::is_empty(path, error) || error)
        return WM_L("\"%@\" already holds files. Name a new folder, or an empty one, to restore into.", target);
    if (checked) checked->found = FolderIdentity{st.st_dev, st.st_ino};
    return std::nullopt;
}

void listFailures(const RestoreResult& result, std::ostream& err) {
    // A name from the backup may hold any character: control characters are shown as
    // escapes, so no name can break a line or pass for another line.
    auto printable = [](std::string_view text) {
        std::string out;
        for (unsigned char c : text) {
            if (c < 0x20 || c == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    };
    // The result keeps only the first of many records; N counts all of them. Why the walk
    // stopped, when it did, comes first.
    const std::vector<const RestoreResult::Failure*> failures = result.failures.listed();
    const std::size_t listed = std::min(failures.size(), maxListedFailures);
    for (std::size_t i = 0; i < listed; ++i)
        err << printable(failures[i]->path) << ": " << printable(failures[i]->reason) << "\n";
    if (result.failures.total() > listed) err << "and " << result.failures.total() - listed << " more\n";
    err.flush();
}

int runHeadlessRestore(const Mode& mode, std::ostream& out, std::ostream& err) {
    RestoreAppModel model;
    model.setBackupPath(mode.backupFolder);
    model.setRestoreInto(mode.targetFolder);
    const SecretFile secret = readSecretFile(mode.secretFile);
    if (secret.problem) {
        err << "could not open: " << *secret.problem << "\n";
        err.flush();
        return 1;
    }
    model.setSecret(secret.secret);

    model.open();
    if (model.phase().kind != RestoreAppModel::Phase::Kind::open) {
        err << "could not open: " << problemOrNoReason(model.problem()) << "\n";
        err.flush();
        return 1;
    }

    CheckedTarget checked;
    if (const auto refusal = targetRefusal(mode.targetFolder, &checked)) {
        err << "restore failed: " << *refusal << "\n";
        err.flush();
        return 1;
    }

    // An open backup with a problem is one whose list left out records that could not be read.
    // The newest of them may be among those, so the person learns which backup comes back,
    // and the run never counts as a success.
    const bool unlisted = model.problem().has_value();
    if (unlisted) {
        err << *model.problem() << " " << restoringWhich(model) << "\n";
        err.flush();
    }

    model.restore(checked);
    const std::optional<std::string> problem = model.problem();
    bool complete = false;
    // The report is read where the model holds it, never copied.
    model.readPhase([&](const RestoreAppModel::Phase& phase) {
        const bool finished = phase.kind == RestoreAppModel::Phase::Kind::finished;
        complete = finished && phase.result.isComplete();
        if (complete) {
            out << "restored " << phase.result.filesRestored << " files, " << phase.result.directoriesRestored
                << " folders\n";
            out.flush();
        } else if (finished && !problem) {
            // The walk ended with failures: what came back, then what did not and why. A walk
            // that stopped never reached the rest of the backup, so its entries are not counted
            // as the entries that could not be restored: the line says it stopped.
            const RestoreResult::FailureRecords& failures = phase.result.failures;
            const std::uint64_t failed = failures.total() - (failures.stop() ? 1 : 0);
            err << "restore failed: restored " << phase.result.filesRestored << " files, "
                << phase.result.directoriesRestored << " folders";
            if (failures.stop()) err << ", then stopped before the end of the backup";
            if (failed > 0) err << "; " << failed << " could not be restored";
            err << "\n";
        } else {
            err << "restore failed: " << problemOrNoReason(problem) << "\n";
        }
        if (finished) listFailures(phase.result, err);
    });
    err.flush();
    return complete && !unlisted ? 0 : 1;
}

}  // namespace wm::CommandLine

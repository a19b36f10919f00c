#pragma once
// The command-line modes, chosen from the arguments before anything of the window
// exists. The self-check and the headless restore need no display and run here; the
// screenshot run and the window are the Qt side's (main.cpp).
#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

#include <vector>
#include "core/SecretFile.h"

#include "restore/RestoreResult.h"
#include "restore/RestoreRoot.h"

namespace wm::CommandLine {

struct Mode {
    enum class Kind { selfCheck, headlessRestore, screenshots, window };
    Kind kind = Kind::window;
    // headlessRestore
    std::string backupFolder;
    std::string targetFolder;
    std::string secretFile;
    // screenshots
    std::string screenshotFolder;
};

// arguments is the whole list, the program path included. In this order: "--self-check"
// anywhere; "--headless-restore" followed by at least three arguments; "--screenshots"
// followed by a folder; otherwise the window.
Mode choose(const std::vector<std::string>& arguments);

// Proves the program starts and its sentences resolve. Returns the exit status.
int runSelfCheck(std::ostream& out, std::ostream& err);

// Opens the backup, restores its newest snapshot whole into the target folder and
// prints one line. Returns the exit status.
int runHeadlessRestore(const Mode& mode, std::ostream& out, std::ostream& err);

// Why the window cannot open: nothing to show it on (neither DISPLAY nor WAYLAND_DISPLAY
// is set, and QT_QPA_PLATFORM names no platform). Nothing when it can. Checked before
// anything of Qt exists, which would end the program with its own lines instead.
std::optional<std::string> windowRefusal();

// The most a secret file may hold: far more than any passphrase or recovery key.
inline constexpr std::size_t secretFileLimit = wm::SecretFile::limit;

struct SecretFile {
    std::string secret;
    // Why the file gave no secret, naming it; nothing when it was read.
    std::optional<std::string> problem;
};

// The secret file as UTF-8 text without surrounding white space and line breaks. Only a
// regular file of at most secretFileLimit bytes is read, opened without blocking, so a
// named pipe or a device is refused instead of waited on or read without end.
SecretFile readSecretFile(const std::string& path);

// Why target is no place for a headless restore, which goes into a new folder: it is a
// symbolic link, something other than a folder, a folder that holds anything, or "." or
// "..". Nothing when it does not exist yet or is an empty folder; then checked, when given,
// receives what was found there, for the restore to hold the folder it opens to.
std::optional<std::string> targetRefusal(const std::string& target, CheckedTarget* checked = nullptr);

// The lines that follow the first line of a headless restore that failed: each failed
// entry, its path and why (why the walk stopped first, when it stopped early), at most
// maxListedFailures and then "and N more", N counting all
// the failures of the restore. Skipped entries and metadata not put back do not stop a
// restore from counting as complete, so they are not listed (the window's report shows them).
inline constexpr std::size_t maxListedFailures = 1000;
void listFailures(const RestoreResult& result, std::ostream& err);

}  // namespace wm::CommandLine

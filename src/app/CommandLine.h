#pragma once
// The command-line modes, chosen from the arguments before anything of the window
// exists. The self-check and the headless restore need no display and run here; the
// screenshot run and the window are the Qt side's (main.cpp).
#include <iosfwd>
#include <string>
#include <vector>

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

// The secret file as UTF-8 text without surrounding white space and line breaks; the
// empty text when it cannot be read or is not UTF-8.
std::string readSecretFile(const std::string& path);

}  // namespace wm::CommandLine

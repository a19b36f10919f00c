#include "policy/ImportFromTimeMachine.h"

#include <algorithm>

#include "core/Localization.h"

namespace wm::ImportFromTimeMachine {

const std::string& explanation() {
    static const std::string sentence = WM_L(
        "This looks like a Time Machine drive. Wendle Marsh cannot import its history: Time Machine's older versions "
        "live in a format only macOS can read, and nothing else can open them. What you can do is restore what you "
        "want from Time Machine in the usual way and let Wendle Marsh protect it from there, which keeps the history "
        "you build from now on.");
    return sentence;
}

const std::string& doNotUseAsDestination() {
    static const std::string sentence = WM_L(
        "Do not point Wendle Marsh at this drive as a backup location while Time Machine is using it. They would be "
        "writing to the same disk, which is one failure away from losing both, and Time Machine may reclaim space by "
        "deleting things it does not recognize.");
    return sentence;
}

bool looksLikeTimeMachine(const std::vector<std::string>& entries) {
    return std::any_of(entries.begin(), entries.end(), [](const std::string& name) {
        return name == "Backups.backupdb" || name.ends_with(".backupbundle") ||
               (name.ends_with(".sparsebundle") && name.find("Backup") != std::string::npos);
    });
}

}  // namespace wm::ImportFromTimeMachine

#include "status/OnboardingScript.h"

#include "core/Localization.h"

namespace wm::OnboardingScript {

const std::vector<Step>& steps() {
    static const std::vector<Step> list{
        {WM_L("One copy is not a backup"),
         WM_L("A backup on a drive that lives next to your Mac survives a dropped laptop and not a burst pipe. "
              "Somewhere else matters more than anything else here, and a cloud folder is the cheapest somewhere "
              "else there is."),
         true},
        {WM_L("Nobody can open it for you"),
         WM_L("Everything is encrypted with a key generated on this Mac and never sent anywhere. You choose a "
              "passphrase to open the backup on another Mac, and a recovery key is written down with it in case you "
              "forget. We hold neither, so nobody else can read your backup and nobody, including us, can let you "
              "back in."),
         true},
        {WM_L("A backup nobody has read back is a guess"),
         WM_L("A cloud folder is not a second copy until it has finished uploading, and Wendle Marsh says so on the "
              "screen. It counts that copy once the upload has finished. It reads backups back to check they are "
              "still there. When something is wrong it says so on the screen you already look at."),
         false},
    };
    return list;
}

const std::string& inOneSentence() {
    static const std::string sentence = WM_L(
        "Wendle Marsh keeps your files somewhere they will survive this Mac, and only counts the copies it has "
        "checked.");
    return sentence;
}

}  // namespace wm::OnboardingScript

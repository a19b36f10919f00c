#include "format/RecoveryGuide.h"

#include "core/Localization.h"

namespace wm::RecoveryGuide {

const std::vector<Step>& steps() {
    static const std::vector<Step> list{
        {1, WM_L("Install macOS"),
         WM_L("A new Mac already has it. A wiped one gets it from Recovery: hold the power button while it "
              "starts, then choose Reinstall macOS. This part has to come from Apple, because the system "
              "volume is sealed and signed and no other software is allowed to write one."),
         true},
        {2, WM_L("Skip the migration step"),
         WM_L("When macOS offers to transfer from a Mac, Time Machine backup or startup disk, choose to set up "
              "as new. Wendle Marsh is not one of those things and cannot pretend to be. Your files come back "
              "in a moment."),
         true},
        {3, WM_L("Open Wendle Marsh and point it at your backup"),
         WM_L("Download it again from %@. Connect the drive, or if your backup is in a bucket or on a server, "
              "choose \"It's in a Bucket or on a Server\" and give the same details and keys. Your backup does "
              "not need this Mac to have seen it before.",
              productWebSite),
         false},
        {4, WM_L("Type your passphrase"),
         WM_L("The one chosen when the backup was made. If you cannot remember it, the recovery key written "
              "down at the same time opens the same backup. Nobody, including us, can recover either for you."),
         false},
        {5, WM_L("Put everything back"),
         WM_L("Choose Get Files Back, choose everything, and point it at your home folder. Documents, photos, "
              "mail, application settings and the applications you installed yourself all return."),
         false},
    };
    return list;
}

const std::vector<std::string>& comesBack() {
    static const std::vector<std::string> list{
        WM_L("Your files, exactly as they were, including things you deleted if history covers them"),
        WM_L("Applications you installed yourself, and their settings"),
        WM_L("Preferences, licenses and configuration held in your home folder"),
    };
    return list;
}

const std::vector<std::string>& doesNotComeBack() {
    static const std::vector<std::string> list{
        WM_L("macOS itself, which comes from Apple"),
        WM_L("Applications from the App Store, which reinstall from your Apple account"),
        WM_L("Permissions you granted apps, such as camera or screen recording access, which macOS "
             "deliberately does not let anything restore"),
        WM_L("Passwords in the login keychain, unless you backed that up and know its password"),
    };
    return list;
}

namespace WithoutTheApp {

const std::string& title() {
    static const std::string text = WM_L("Doing it with this tool instead");
    return text;
}

const std::vector<std::string>& opening() {
    static const std::vector<std::string> list{
        WM_L("Everything above assumes the app. You do not need it. wmctl reads the same backup with nothing "
             "but the drive and your recovery key, and it is the same restore, not a reduced one: the app and "
             "this tool both go through `RestoreCoordinator`, and the bare machine test proves permissions and "
             "extended attributes come back either way."),
    };
    return list;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> list{
        {"wmctl info <folder>", WM_L("what the backup holds")},
        {"wmctl snapshots <folder>", WM_L("the backups in it, newest last")},
        {"wmctl restore <folder> <to>", WM_L("put the newest one back")},
    };
    return list;
}

const std::vector<std::string>& closing() {
    static const std::vector<std::string> list{
        WM_L("The key is read from --key-file, or WENDLEMARSH_RECOVERY_KEY, or a prompt. Never as an argument: "
             "anybody who can list processes can read those."),
        WM_L("If this binary is all that is left, the format is written down in docs/03-REPOSITORY-FORMAT.md and "
             "published at %@. Somebody who has neither can rebuild a reader from that document, which is "
             "checked against a real backup on every commit for exactly this reason.",
             formatDocumentAddress),
    };
    return list;
}

}  // namespace WithoutTheApp

}  // namespace wm::RecoveryGuide

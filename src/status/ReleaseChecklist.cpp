#include "status/ReleaseChecklist.h"

#include "core/Localization.h"

namespace wm::ReleaseChecklist {

namespace {

std::vector<Item> where(bool automatically) {
    std::vector<Item> kept;
    for (const auto& item : items())
        if (item.checkedAutomatically == automatically) kept.push_back(item);
    return kept;
}

}  // namespace

const std::vector<Item>& items() {
    static const std::vector<Item> list{
        // A command line, the same in every language.
        {WM_L("Every test passes, including the slow fixtures"), true,
         "Scripts/check-all.sh --slow-fixtures --sanitizers --fuzz-corpora --ui"},
        {WM_L("A backup made by this build restores byte for byte"), true,
         WM_L("Gate G2, which runs on every CI invocation")},
        {WM_L("The app launches from the built bundle"), true,
         WM_L("Scripts/make-bundle.sh, which refuses to return a bundle that does not start")},
        {WM_L("Signed, hardened, notarized and stapled"), true,
         WM_L("Scripts/notarize.sh, after which spctl reports the bundle accepted")},
        {WM_L("Ten thousand randomised fault-injection runs, zero corrupted repositories"), true,
         WM_L("Gate G3, Scripts/fault-soak.sh. It is not part of check-all.sh because it is a release-time check, "
              "and every failure prints the run number that reproduces it")},
        {WM_L("The claims the scripts know how to check still hold"), true,
         WM_L("Scripts/check-claims.sh and Scripts/check-site.sh look for forbidden phrasing, links that resolve, "
              "downloads that exist, and numbers quoted from the source")},
        {WM_L("The format document is enough to read a backup with"), true,
         WM_L("Scripts/check-format-document.sh runs an independent reader, written from the document alone, "
              "against a repository this build just made")},
        {WM_L("The App Store configuration builds, is sandboxed, and has no updater in it"), true,
         WM_L("Scripts/check-project.sh. The command-line package build can never exercise this configuration, so "
              "the script builds it unsigned; whether Apple will issue a profile is answered at notarization")},
        {WM_L("The iPhone app, the Watch app and the complication all build"), true,
         WM_L("Scripts/check-project.sh. None of these three are targets of the command-line package build, so "
              "that build never compiles a line of them")},
        {WM_L("The key in the shipped app accepts our updates and refuses everything else"), true,
         WM_L("Scripts/sign-update.sh, run before the appcast is written. A public key in Info.plist that does not "
              "match the signing key makes every update uninstallable, and nothing else in the pipeline would "
              "notice")},
        {WM_L("The appcast entry is signed and the version is new"), true,
         WM_L("Scripts/make-appcast.sh, which refuses to republish a version")},
        {WM_L("The download link points at the notarized archive"), true,
         WM_L("Scripts/deploy-site.sh, which refuses without it")},
        {WM_L("Somebody has restored a real file on a real Mac from this build"), false,
         WM_L("By hand. Gate G2 proves the format round trips; this proves a person can do it through the "
              "interface")},
        {WM_L("Every button the script can see carries a name, and iOS text scales"), true,
         WM_L("Scripts/check-accessibility.sh looks for buttons whose only content is an image, and for fixed "
              "point sizes on iOS or watchOS where text is meant to scale")},
        {WM_L("Somebody has used the app with VoiceOver turned on"), false,
         WM_L("By hand. The accessibility script proves no control is nameless, which is not the same as the app "
              "being usable: only listening to it says that")},
        {WM_L("The recovery key screen has been read by somebody who did not write it"), false,
         WM_L("By hand. It is the one screen where a confusing sentence costs somebody everything")},
        {WM_L("Somebody has read every sentence on the site against what the app does"), false,
         WM_L("By hand. Every false claim found so far passed CI: the product was right and only the sentence was "
              "wrong, which is the one thing a test on the product cannot catch")},
        {WM_L("The update signing key is backed up somewhere offline"), false,
         WM_L("By hand. Losing it means no update can ever be shipped to anybody already running Wendle Marsh")},
    };
    return list;
}

std::vector<Item> automatic() { return where(true); }
std::vector<Item> byHand() { return where(false); }

}  // namespace wm::ReleaseChecklist

#include "status/FirstRunSuggestions.h"

#include "core/Localization.h"
#include "core/StandardPath.h"

namespace wm::FirstRunSuggestions {

Suggestion::Suggestion(std::string name, std::vector<std::string> relativePaths, std::string why, bool onByDefault,
                       bool fromRoot)
    : name(std::move(name)),
      relativePaths(std::move(relativePaths)),
      why(std::move(why)),
      onByDefault(onByDefault),
      fromRoot(fromRoot) {}

Suggestion::Suggestion(std::string name, std::string relativePath, std::string why, bool onByDefault, bool fromRoot)
    : Suggestion(std::move(name), std::vector<std::string>{std::move(relativePath)}, std::move(why), onByDefault,
                 fromRoot) {}

std::string Suggestion::relativePath() const { return relativePaths.empty() ? std::string() : relativePaths.front(); }

bool Suggestion::isEveryday() const { return !fromRoot && !relativePath().starts_with("Library/"); }

namespace {

std::string absolute(const std::string& relative, bool fromRoot) {
    return (fromRoot ? std::string() : StandardPath::homeFolder()) + "/" + relative;
}

}  // namespace

std::string Suggestion::path() const {
    return relativePaths.empty() ? std::string() : absolute(relativePaths.front(), fromRoot);
}

std::vector<std::string> Suggestion::paths(const FileManager& fileManager) const {
    std::vector<std::string> found;
    for (const auto& relative : relativePaths) {
        std::string candidate = absolute(relative, fromRoot);
        if (fileManager.exists(candidate)) found.push_back(std::move(candidate));
    }
    return found;
}

const std::vector<Suggestion>& all() {
    static const std::vector<Suggestion> list = [] {
        using Paths = std::vector<std::string>;
        return std::vector<Suggestion>{
            {"Documents", "Documents", WM_L("Where most things end up"), true, false},
            {"Desktop", "Desktop", WM_L("Usually the things being worked on right now"), true, false},
            {"Pictures", "Pictures", WM_L("Including your Photos library"), true, false},
            {"Movies", "Movies", WM_L("Often large, and often irreplaceable"), false, false},
            {"Music", "Music", WM_L("Anything not streamed"), false, false},
            {"Downloads", "Downloads", WM_L("Usually things that can be downloaded again"), false, false},
            {"Mail and messages", Paths{"Library/Mail", "Library/Messages", "Library/Safari"},
             WM_L("Mail, message history and bookmarks kept on this Mac"), true, false},
            {"App data", "Library/Application Support", WM_L("Files and databases the apps you installed keep for you"),
             true, false},
            {"App settings",
             Paths{"Library/Preferences", "Library/Fonts", "Library/LaunchAgents", "Library/Dictionaries",
                   "Library/ColorSync"},
             WM_L("Settings, license keys, fonts and the things that start when you log in"), true, false},
            {"App Store apps", Paths{"Library/Containers", "Library/Group Containers"},
             WM_L("Documents and settings belonging to apps from the App Store"), false, false},
            {"Keychain", "Library/Keychains",
             WM_L("The keychain file, which opens with the login password it was made under"), false, false},
            {"Applications", "Applications", WM_L("Apps you installed yourself, which the App Store cannot give back"),
             false, true},
        };
    }();
    return list;
}

std::vector<Suggestion> defaults() {
    std::vector<Suggestion> on;
    for (const auto& suggestion : all())
        if (suggestion.onByDefault) on.push_back(suggestion);
    return on;
}

const std::string& explanation() {
    static const std::string sentence = WM_L(
        "These are the folders most people would miss. Turn off anything you do not want, and add anything else "
        "afterwards.");
    return sentence;
}

std::optional<Suggestion> phoneBackups(const PhoneBackups::State& state) {
    if (state.kind != PhoneBackups::State::Kind::found) return std::nullopt;
    return Suggestion(WM_L("iPhone backups"), std::string(PhoneBackups::relativePath), PhoneBackups::why(), false,
                      false);
}

}  // namespace wm::FirstRunSuggestions

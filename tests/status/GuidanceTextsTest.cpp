// First-run suggestions, onboarding, the comparison, the release checklist and the advice texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "status/FirstRunSuggestions.h"
#include "status/ObjectStoreAdvice.h"
#include "status/OnboardingScript.h"
#include "status/PhotoLibraryAdvice.h"
#include "status/PreferencesAdvice.h"
#include "status/ReceivedBackup.h"
#include "status/ReleaseChecklist.h"
#include "status/TimeMachineComparison.h"
#include "status/VerificationWording.h"
#include "support/DataTable.h"
#include "support/ScopedEnvironment.h"
#include "support/TempFolder.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Row = std::vector<std::string>;

std::string words(std::initializer_list<std::pair<bool, const char*>> flags) {
    std::string out;
    for (const auto& [set, word] : flags)
        if (set) out += (out.empty() ? "" : " ") + std::string(word);
    return out;
}

TEST(FixedListsTest, TextsOrderAndFlagsFromTheTable) {
    std::map<std::string, std::vector<Row>> actual;
    for (const auto& s : FirstRunSuggestions::all()) {
        std::string paths;
        for (const auto& p : s.relativePaths) paths += (paths.empty() ? "" : ";") + p;
        actual["suggestion"].push_back(
            {"suggestion", s.name, paths, s.why,
             words({{s.onByDefault, "on"}, {s.fromRoot, "root"}, {s.isEveryday(), "everyday"}})});
    }
    for (const auto& s : OnboardingScript::steps())
        actual["onboarding"].push_back(
            {"onboarding", s.title, s.body, "", words({{s.correctsAMisconception, "misconception"}})});
    for (const auto& r : TimeMachineComparison::rows())
        actual["comparison"].push_back(
            {"comparison", r.question, r.wendleMarsh, r.timeMachine, words({{r.timeMachineWins, "wins"}})});
    std::vector<ReleaseChecklist::Item> split[2];  // by hand, automatic
    for (const auto& i : ReleaseChecklist::items()) {
        actual["checklist"].push_back({"checklist", i.what, i.how, "", words({{i.checkedAutomatically, "automatic"}})});
        split[i.checkedAutomatically].push_back(i);
    }
    EXPECT_EQ(ReleaseChecklist::byHand(), split[0]);
    EXPECT_EQ(ReleaseChecklist::automatic(), split[1]);
    for (const auto* text :
         {&FirstRunSuggestions::explanation(), &TimeMachineComparison::preamble(), &TimeMachineComparison::bothIsFine(),
          &PhotoLibraryAdvice::whileOpen(), &PhotoLibraryAdvice::alternative(), &PreferencesAdvice::afterRestore(),
          &PreferencesAdvice::whenCopied(), &ReceivedBackup::whatTheStoringMacCannotDo(),
          &VerificationWording::sampleFoundNothing(), &VerificationWording::neverChecked()})
        actual["sentence"].push_back({"sentence", *text, "", "", ""});

    std::map<std::string, std::size_t> seen;
    for (auto expected : test::dataTable("status/fixed-lists.tsv", 5)) {
        const auto& list = actual[expected[0]];
        const std::size_t index = seen[expected[0]]++;
        ASSERT_LT(index, list.size()) << expected[1];
        Row got = list[index];
        // A how worded freely is only required to be there.
        if (expected[0] == "checklist" && expected[2].empty() && !got[2].empty()) got[2].clear();
        EXPECT_EQ(got, expected);
    }
    for (const auto& [list, rows] : actual) EXPECT_EQ(seen[list], rows.size()) << list;
}

TEST(FirstRunSuggestionsTest, PathsUnderTheHomeFolderAndPhoneBackups) {
    const test::TempFolder home("wm-home");
    const test::ScopedEnvironment homeVariable("HOME", home.string());
    const std::string h = home.string();
    fs::create_directories(home / "Library/Mail");
    fs::create_directories(home / "Elsewhere");
    fs::create_directory_symlink(home / "Elsewhere", home / "Library/Safari");
    fs::create_directory_symlink(home / "Gone", home / "Library/Messages");

    std::vector<std::string> paths;
    for (const auto& s : FirstRunSuggestions::defaults()) paths.push_back(s.path());
    EXPECT_EQ(paths, (Row{h + "/Documents", h + "/Desktop", h + "/Pictures", h + "/Library/Mail",
                          h + "/Library/Application Support", h + "/Library/Preferences"}));
    // A link counts when what it points at exists.
    EXPECT_EQ(FirstRunSuggestions::all()[6].paths(), (Row{h + "/Library/Mail", h + "/Library/Safari"}));
    EXPECT_EQ(FirstRunSuggestions::all().back().path(), "/Applications");

    const FirstRunSuggestions::Suggestion empty("Nothing", std::vector<std::string>{}, "", true, false);
    EXPECT_EQ(empty.id() + empty.path(), "");
    EXPECT_TRUE(empty.paths().empty());

    using State = PhoneBackups::State;
    const auto found = FirstRunSuggestions::phoneBackups(State::found({}));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path(), h + "/Library/Application Support/MobileSync/Backup");
    EXPECT_FALSE(FirstRunSuggestions::phoneBackups(State::none()));
    EXPECT_FALSE(FirstRunSuggestions::phoneBackups(State::needsFullDiskAccess()));
}

TEST(AdviceTest, PhotoLibraries) {
    using namespace PhotoLibraryAdvice;
    for (const char* path :
         {"/Users/me/Pictures/Photos Library.photoslibrary", "x.PhotosLibrary", "a/b.PHOTOSLIBRARY/"})
        EXPECT_TRUE(isPhotoLibrary(path)) << path;
    for (const char* path : {"x.photos", "photoslibrary", "/a/.photoslibrary", ""})
        EXPECT_FALSE(isPhotoLibrary(path)) << path;
    EXPECT_FALSE(containsPhotoLibrary("/a.photoslibrary", {}));
    EXPECT_TRUE(containsPhotoLibrary("/Users/me/Pictures", {"notes.txt", "Photos Library.photoslibrary"}));
}

TEST(AdviceTest, SettingsFoundOnlyWithinTheDepthAndNeverThroughLinks) {
    test::TempFolder top;
    fs::create_directories(top / "direct/Preferences");
    fs::create_directories(top / "nested/Library/Preferences");
    top.writeFile("file/Preferences", "not a folder");
    fs::create_directories(top / "linked/real/Preferences");
    fs::create_directory_symlink(top / "linked/real/Preferences", top / "linked/Preferences");
    fs::create_directory_symlink(top / "linked/real", top / "linked/hop");
    fs::create_directories(top / "cycle/a");
    fs::create_directory_symlink(top / "cycle", top / "cycle/a/back");

    // Only real folders are entered: "linked" holds its settings two levels down, never through its links.
    const struct {
        const char* folder;
        std::int64_t depth;
        bool found;
    } cases[] = {{"direct", 0, false}, {"direct", 1, true},   {"nested", 1, false},
                 {"nested", 2, true},  {"missing", 5, false}, {"file", 3, false},
                 {"linked", 1, false}, {"linked", 2, true},   {"cycle", 1'000'000, false}};
    for (const auto& c : cases)
        EXPECT_EQ(PreferencesAdvice::settingsLanded((top / c.folder).string(), c.depth), c.found)
            << c.folder << " " << c.depth;
}

TEST(AdviceTest, ObjectStoreSentencesFromTheTable) {
    const auto rows = test::dataTable("status/object-store.tsv", 3);
    ASSERT_EQ(rows.size(), 10u);
    for (const auto& row : rows)
        EXPECT_EQ(ObjectStoreAdvice::sentence(std::stoll(row[0]), row[1]), row[2]) << row[0] << row[1];
}

}  // namespace
}  // namespace wm

#include <gtest/gtest.h>

#include "core/Localization.h"
#include "policy/AppLocation.h"
#include "policy/SnapshotMount.h"
#include "policy/SourceSelection.h"
#include "support/Catalogue.h"
#include "support/DataTable.h"
#include "support/ScopedEnvironment.h"
#include "support/TempFolder.h"

namespace {

using namespace wm;
using Refusal = SourceSelection::Refusal;
using Kind = Refusal::Kind;

// Adds each path in turn; a refusal is expected where one is given.
struct Step {
    const char* path;
    std::optional<Refusal> refusal;
};

SourceSelection run(std::vector<Step> steps, SourceSelection selection = {}) {
    for (const Step& step : steps) EXPECT_EQ(selection.add(step.path), step.refusal) << step.path;
    return selection;
}

TEST(SourceSelection, OverlapsAreRefusedNamingTheFolderInTheWay) {
    const test::ScopedEnvironment home("HOME", "/Users/me");
    auto s = run({{"~/Documents/"},
                  {"/Users/me/./Documents", Refusal{Kind::alreadyChosen, "Documents"}},
                  {"/Users/me/Documents/Taxes", Refusal{Kind::insideAnother, "Documents"}},
                  {"/Users/me", Refusal{Kind::containsAnother, "Documents"}},
                  {"/Users/me/Doc"},
                  {"/Users/me/x/../Documents//Taxes/..", Refusal{Kind::alreadyChosen, "Documents"}}});
    EXPECT_EQ(s.sources.front(), (SourceSelection::Source{"/Users/me/Documents", "Documents"}));

    // Passes run one after another: alreadyChosen wins whatever the order in stored data.
    const SourceSelection stored{{{"/A/B/C", "C"}, {"/A/B", "B"}}};
    run({{"/A/B", Refusal{Kind::alreadyChosen, "B"}}, {"/A", Refusal{Kind::containsAnother, "C"}}}, stored);

    // The root holds everything, and nothing can be added beside it.
    run({{"/Users/me/Photos"}, {"/", Refusal{Kind::containsAnother, "Photos"}}});
    run({{"/"}, {"/Users/me", Refusal{Kind::insideAnother, "Backup"}}, {"/", Refusal{Kind::alreadyChosen, "Backup"}}});

    // A decomposed accent names the same folder as a precomposed one.
    run({{"/Users/me/Caf\xC3\xA9"}, {"/Users/me/Cafe\xCC\x81/x", Refusal{Kind::insideAnother, "Caf\xC3\xA9"}}});
    // Names that are not UTF-8 (Latin-1 e acute and e grave) are folders of their own.
    run({{"/a/caf\xE9"}, {"/a/caf\xE8"}, {"/a/caf\xE9/x", Refusal{Kind::insideAnother, "caf\xE9"}}});
}

TEST(SourceSelection, LabelsAreUnique) {
    const auto s = run({{"/Users/me/Photos"},
                        {"/Volumes/Disk/Photos"},
                        {"/Volumes/Other/Disk/Photos"},
                        {"/Volumes/Third/Disk/Photos"},
                        {"/Photos2/Photos"}});
    std::vector<std::string> labels;
    for (const auto& source : s.sources) labels.push_back(source.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"Photos", "Disk Photos", "Photos 2", "Photos 3", "Photos2 Photos"}));
    EXPECT_EQ(run({{"/x/Photos"}, {"/Photos2"}, {"/y/Photos"}, {"/z/Photos"}}).sources[3].label, "z Photos");
    EXPECT_EQ(run({{"/a/Photos"}, {"/Photos"}}).sources[1].label, "Photos 2");  // one piece: no parent step
    // Two spellings of one accent look the same to a person.
    EXPECT_EQ(run({{"/a/Caf\xC3\xA9"}, {"/b/Cafe\xCC\x81"}}).sources[1].label, "b Cafe\xCC\x81");
}

TEST(SourceSelection, RemoveAndSentences) {
    auto s = run({{"/Users/me/Documents"}, {"/Users/me/Music"}});
    const SourceSelection before = s;
    s.remove("/Users/me/Documents/");
    EXPECT_EQ(s, before);
    s.remove("/Users/me/Documents");
    EXPECT_EQ(s, (SourceSelection{{{"/Users/me/Music", "Music"}}}));

    test::expectTexts("policy/source-selection.tsv",
                      {{"alreadyChosen", Refusal{Kind::alreadyChosen, "Documents"}.sentence()},
                       {"insideAnother", Refusal{Kind::insideAnother, "Documents"}.sentence()},
                       {"containsAnother", Refusal{Kind::containsAnother, "Taxes"}.sentence()}});

    // Catalogues find the sentence by its English text with a placeholder at each label.
    const test::TempFolder root("wm-policy-l10n");
    test::writeCatalogue(root / "fr/LC_MESSAGES/wm-policy.mo",
                         {{"That folder contains %@, which is already being protected. Remove %@ first, or choose a "
                           "folder that does not contain it.",
                           "%@ ; %@"}});
    const std::string catalogues = Localization::catalogueDirectory();
    Localization::setCatalogueDirectoryForTesting(root.string());
    Localization::setLocaleForTesting("fr_FR");
    const std::string translated = Refusal{Kind::containsAnother, "Taxes"}.sentence();
    Localization::setLocaleForTesting("en_US");
    Localization::setCatalogueDirectoryForTesting(catalogues);
    EXPECT_EQ(translated, "Taxes ; Taxes");
}

// snapshot-mount.tsv: whether a snapshot name or mount folder is accepted, and the snapshot
// name found in the tool's output.
TEST(SnapshotMount, NamesAndFoldersOfStrictFormOnly) {
    test::expectAnswers(
        "policy/snapshot-mount.tsv",
        {{"name", [](const std::string& t) { return test::yesNo(SnapshotMount::isSnapshotName(t)); }},
         {"folder", [](const std::string& t) { return test::yesNo(SnapshotMount::isMountFolder(t)); }},
         {"output", [](const std::string& t) { return test::orNone(SnapshotMount::snapshotName(t)); }}});
    const std::string good = "com.apple.TimeMachine.2024-05-01-101530.local";
    const std::string folder = SnapshotMount::mountFolder(UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").value());
    EXPECT_EQ(folder, std::string(SnapshotMount::mountRoot) + "/E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(SnapshotMount::mountCommand(good, folder),
              (std::vector<std::string>{"/sbin/mount_apfs", "-o", "rdonly,nobrowse", "-s", good, "/System/Volumes/Data",
                                        folder}));
    EXPECT_EQ(SnapshotMount::mountCommand(good, "/tmp/E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), std::nullopt);
    EXPECT_EQ(SnapshotMount::mountCommand(good + ";rm", folder), std::nullopt);
    EXPECT_EQ(SnapshotMount::unmountCommand(folder), (std::vector<std::string>{"/sbin/umount", folder}));
    EXPECT_EQ(SnapshotMount::unmountCommand(SnapshotMount::mountRoot), std::nullopt);
}

// app-location.tsv: "<bundle path>\t<where>\t<sentence>"; only an installed app opens at login.
TEST(AppLocation, FromTheBundlePath) {
    static const char* const cases[] = {"installed", "temporaryCopy", "diskImage"};
    for (const auto& row : test::dataTable("policy/app-location.tsv", 3)) {
        const AppLocation where = AppLocation::of(row[0]);
        EXPECT_EQ(cases[where], row[1]) << row[0];
        EXPECT_EQ(where.sentence().value_or("(none)"), row[2]) << row[0];
        EXPECT_EQ(where.canOpenAtLogin(), where == AppLocation::installed);
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>

#include "ExpectedTexts.h"
#include "policy/SourceSelection.h"

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
    setenv("HOME", "/Users/me", 1);
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
}

TEST(SourceSelection, LabelsAreUnique) {
    const auto s = run({{"/Users/me/Photos"}, {"/Volumes/Disk/Photos"}, {"/Volumes/Other/Disk/Photos"},
                        {"/Volumes/Third/Disk/Photos"}, {"/Photos2/Photos"}});
    std::vector<std::string> labels;
    for (const auto& source : s.sources) labels.push_back(source.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"Photos", "Disk Photos", "Photos 2", "Photos 3", "Photos2 Photos"}));
    const auto one = run({{"/x/Photos"}, {"/Photos2"}, {"/y/Photos"}, {"/z/Photos"}});
    EXPECT_EQ(one.sources[3].label, "z Photos");
    EXPECT_EQ(run({{"/a/Photos"}, {"/Photos"}}).sources[1].label, "Photos 2");  // one piece: no parent step
}

TEST(SourceSelection, RemoveStoredFormAndSentences) {
    auto s = run({{"/Users/me/Documents"}, {"/Users/me/Music"}});
    const SourceSelection before = s;
    s.remove("/Users/me/Documents/");
    EXPECT_EQ(s, before);
    s.remove("/Users/me/Documents");
    EXPECT_EQ(s, (SourceSelection{{{"/Users/me/Music", "Music"}}}));

    EXPECT_EQ(SourceSelection::fromJSON(before.toJSON()), before);
    EXPECT_EQ(before.toJSON(), JSON::parse(R"({"sources":[{"path":"/Users/me/Documents","label":"Documents"},
                                                          {"path":"/Users/me/Music","label":"Music"}]})"));
    for (const char* damaged : {R"({})", R"({"sources":{}})", R"({"sources":[{"path":"/a"}]})",
                                R"({"sources":[{"path":"/a","label":2}]})", R"({"sources":[3]})"})
        EXPECT_THROW(SourceSelection::fromJSON(JSON::parse(damaged)), RepositoryJSON::DecodingError) << damaged;

    test::expectTexts("source-selection.txt", {{"alreadyChosen", Refusal{Kind::alreadyChosen, "Documents"}.sentence()},
                                               {"insideAnother", Refusal{Kind::insideAnother, "Documents"}.sentence()},
                                               {"containsAnother", Refusal{Kind::containsAnother, "Taxes"}.sentence()}});
}

}  // namespace

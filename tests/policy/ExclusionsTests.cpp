#include <gtest/gtest.h>

#include <fnmatch.h>

#include <clocale>

#include "policy/Exclusions.h"
#include "policy/WholeMac.h"
#include "support/DataTable.h"

namespace {

using namespace wm;
using Reason = Exclusions::Reason;

Exclusions defaults(Exclusions::Chosen chosen = {}, std::set<std::string> systemFolders = {}) {
    return Exclusions{Exclusions::defaultNames(), Exclusions::defaultAnchoredPaths(), std::move(chosen),
                      std::move(systemFolders)};
}

// exclusion-cases.tsv: "<rules>\t<root>\t<components joined by />\t<reason>", the reason
// written "knownCache:<name>", "chosen:<name>" or "-" when the entry is not left out.
TEST(Exclusions, RuleOrderAndReasons) {
    const std::map<std::string, Exclusions> rules = {
        {"defaults", defaults()},
        {"user", defaults({{"/System/Volumes/Data/Users/me/Movies", "/Users/me/Old/", "/Users/me/caf\xC3\xA9"},
                           {"*.tmp", "*.TMP", "node_modules"}})},
        {"wholeMac", WholeMac::exclusions({}, "/Volumes/Mac/Backups/")},
        {"decomposed", Exclusions{{"cafe\xCC\x81", "\xE2\x84\xAA" + std::string("ache")}, {}, {}, {}}},  // KELVIN SIGN
        {"emptyFolders", defaults({{""}}, {""})},
        {"rootFolder", defaults({{"/"}})},
    };
    for (const auto& row : test::dataTable("policy/exclusion-cases.tsv", 4)) {
        const auto components = row[2].empty() ? std::vector<std::string>{} : test::split(row[2], '/');
        const auto reason = rules.at(row[0]).excludes(components, row[1], "/Users/me");
        const std::string kind = !reason ? "-" : reason->kind == Reason::Kind::chosen ? "chosen:" : "knownCache:";
        EXPECT_EQ(reason ? kind + reason->name : kind, row[3]) << row[0] << " " << row[1] << " " << row[2];
    }
    // A folder name that is not UTF-8 (Latin-1 e acute) holds only itself, not e grave.
    const Exclusions latin1 = defaults({{"/Users/me/caf\xE9"}});
    EXPECT_EQ(latin1.excludes({"caf\xE8", "x"}, "/Users/me", "/Users/me"), std::nullopt);
    EXPECT_EQ(latin1.excludes({"caf\xE9", "x"}, "/Users/me", "/Users/me"), Reason::chosen("caf\xE9"));
}

// Patterns are matched as fnmatch matches them, whatever shortcut the rules take.
TEST(Exclusions, PatternsMatchAsFnmatchDoes) {
    const char* const patterns[] = {"*.tmp", "*.TMP", "*", "*a", "*.", "*/x", "*\\*", "*[a]", "*?", "a*", "*\xC3\xA9"};
    const char* const names[] = {"a.tmp",        "A.TmP",  ".tmp", "tmp", "x/a.tmp", "",
                                 "\xC3\xA9.tmp", "a.tmp.", "ab",   "x/x", "*"};
    for (const char* ctype : {"C", "C.UTF-8"}) {
        std::setlocale(LC_CTYPE, ctype);
        for (const char* pattern : patterns)
            for (const char* name : names) {
                const Exclusions rules{{}, {}, {{}, {pattern}}, {}};
                EXPECT_EQ(rules.excludes({name}, "/", "/h").has_value(),
                          ::fnmatch(pattern, name, FNM_PATHNAME | FNM_CASEFOLD) == 0)
                    << ctype << " " << pattern << " " << name;
            }
    }
    std::setlocale(LC_CTYPE, "C");
}

TEST(Exclusions, SizeLimitPatternsAndRules) {
    Exclusions rules = defaults({{}, {}, 1000});
    EXPECT_EQ(rules.excludes("a", 1000), std::nullopt);
    EXPECT_EQ(rules.excludes("a", 1001), Reason::tooLarge("a", 1000));
    EXPECT_EQ(defaults().excludes("a", INT64_MAX), std::nullopt);

    rules.chosen = {{"/b"}, {"*.mov"}, -5};
    rules.systemFolders = {"/s"};
    const auto described = rules.describedRules();
    EXPECT_EQ(described.size(), 23u);
    EXPECT_TRUE(std::is_sorted(described.begin(), described.end()));
    for (const char* line :
         {"folder:/b", "pattern:*.mov", "largerThan:-5", "system:/s", "name:.cargo/registry", "home:Library/Caches"})
        EXPECT_TRUE(std::find(described.begin(), described.end(), line) != described.end()) << line;

    test::expectAnswers(
        "policy/pattern-refusals.tsv",
        {{"refusal", [](const std::string& pattern) { return test::orNone(LeftOutPatternRules::refusal(pattern)); }}});
    std::map<std::string, std::optional<std::string>> texts;
    texts["reason.cache"] = Reason::knownCache("node_modules").sentence();
    texts["reason.chosen"] = Reason::chosen("*.tmp").sentence();
    texts["reason.large"] = Reason::tooLarge("film.mov", 5000000).sentence();
    texts["reason.zero"] = Reason::tooLarge("a", 0).sentence();
    texts["reason.negative"] = Reason::tooLarge("a", -1).sentence();
    texts["fold.one"] = Exclusions::leftOutSentence({"First.", "Second."}, 1);
    texts["fold.two"] = Exclusions::leftOutSentence({"First."}, 2);
    texts["fold.many"] = Exclusions::leftOutSentence({"First."}, 1201);
    texts["fold.none"] = Exclusions::leftOutSentence({}, 3);
    texts["fold.zero"] = Exclusions::leftOutSentence({"First."}, 0);
    texts["fullDiskAccess"] = WholeMac::sentence(WholeMac::Access::needsFullDiskAccess);
    test::expectTexts("policy/exclusions.tsv", texts);
}

TEST(Exclusions, WholeMacRulesAndAccess) {
    EXPECT_EQ(WholeMac::exclusions({}, std::nullopt).systemFolders,
              (std::set<std::string>{"/System/Volumes/Data/private/var/vm", "/System/Volumes/Data/Library/Caches",
                                     "/System/Volumes/Data/System/Library/Caches"}));
    EXPECT_EQ(WholeMac::exclusions({}, "").systemFolders.size(), 3u);
    std::vector<std::string> asked;
    EXPECT_EQ(WholeMac::access([&](const std::string& p) { return asked.push_back(p), true; }),
              WholeMac::Access::granted);
    EXPECT_EQ(asked, std::vector<std::string>{"/Library/Application Support/com.apple.TCC"});
    EXPECT_EQ(WholeMac::access([](const std::string&) { return false; }), WholeMac::Access::needsFullDiskAccess);
    EXPECT_EQ(WholeMac::sentence(WholeMac::Access::granted), std::nullopt);
}

}  // namespace

#include <gtest/gtest.h>

#include "ExpectedTexts.h"
#include "policy/Exclusions.h"
#include "policy/WholeMac.h"

namespace {

using namespace wm;
using Reason = Exclusions::Reason;

Exclusions defaults(Exclusions::Chosen chosen = {}, std::set<std::string> systemFolders = {}) {
    return Exclusions{Exclusions::defaultNames(), Exclusions::defaultAnchoredPaths(), std::move(chosen),
                      std::move(systemFolders)};
}

TEST(Exclusions, RuleOrderAndReasons) {
    const Exclusions user = defaults({{"/System/Volumes/Data/Users/me/Movies", "/Users/me/Old/"}, {"*.tmp", "*.TMP", "node_modules"}});
    const Exclusions whole = WholeMac::exclusions({}, "/Volumes/Mac/Backups/");
    const std::string eAcute = "caf\xC3\xA9", eDecomposed = "cafe\xCC\x81";
    struct Case {
        const Exclusions& rules;
        std::vector<std::string> components;
        const char* root;
        std::optional<Reason> expected;
    };
    const Case cases[] = {
        {user, {}, "/", std::nullopt},
        {user, {"Projects", "app", "node_modules"}, "/anywhere", Reason::knownCache("node_modules")},
        {defaults(), {"Node_Modules"}, "/x", std::nullopt},
        {user, {"Node_Modules"}, "/x", Reason::chosen("node_modules")},
        {user, {"a.tmp"}, "/x", Reason::chosen("*.tmp")},
        {user, {".hidden.TMP"}, "/x", Reason::chosen("*.tmp")},
        {user, {"sub", "a.tmp"}, "/x", Reason::chosen("*.tmp")},
        {user, {"Movies", "clip.mov"}, "/Users/me", Reason::chosen("Movies")},
        {user, {"Movies"}, "/System/Volumes/Data/Users/me/", Reason::chosen("Movies")},
        {user, {"Movies2", "clip.mov"}, "/Users/me", std::nullopt},
        {user, {"Old", "a"}, "/Users/me", std::nullopt},  // stored with a trailing "/"
        {whole, {"private", "var", "vm", "swapfile0"}, "/", Reason::knownCache("vm")},
        {whole, {"Library", "Caches", "x"}, "/", Reason::knownCache("Caches")},
        {whole, {"Backups", "repo", "config"}, "/Volumes/Mac", Reason::knownCache("Backups")},
        {defaults(), {"Library", "Caches", "x"}, "/Users/me", Reason::knownCache("Library/Caches")},
        {defaults(), {"Caches", "x"}, "/Users/me/Library", Reason::knownCache("Library/Caches")},
        {defaults(), {"x"}, "/Users/me/Library/Caches", std::nullopt},  // the root lies at the anchored path
        {defaults(), {"Library", "Caches"}, "/Volumes/Other", std::nullopt},
        {defaults(), {"Library", "Caches2"}, "/Users/me", std::nullopt},
        {defaults(), {"Library"}, "/Users", std::nullopt},
        // Canonically equivalent spellings are one text.
        {defaults({{"/Users/me/" + eAcute}}), {eDecomposed, "a"}, "/Users/me", Reason::chosen(eAcute)},
        {Exclusions{{eDecomposed}, {}, {}, {}}, {"x", eAcute}, "/", Reason::knownCache(eAcute)},
        {Exclusions{{"\xE2\x84\xAA" "ache"}, {}, {}, {}}, {"Kache"}, "/", Reason::knownCache("Kache")},  // KELVIN SIGN
        // Empty folder entries (possible in stored data) leave nothing out.
        {defaults({{""}}, {""}), {"Documents", "a"}, "/Users/me", std::nullopt},
        {defaults({{"/"}}), {"a"}, "/Volumes/x", Reason::chosen("/")},
    };
    for (const Case& c : cases) {
        std::string where;
        for (const auto& s : c.components) where += "/" + s;
        EXPECT_EQ(c.rules.excludes(c.components, c.root, "/Users/me"), c.expected) << c.root << " " << where;
    }
}

TEST(Exclusions, SizeLimitPatternsAndRules) {
    Exclusions rules = defaults({{}, {}, 1000});
    EXPECT_EQ(rules.excludes("a", 1000), std::nullopt);
    EXPECT_EQ(rules.excludes("a", 1001), Reason::tooLarge("a", 1000));
    EXPECT_EQ(defaults().excludes("a", INT64_MAX), std::nullopt);

    const std::vector<std::string> names = {
        "home:Library/Application Support/MobileSync",
        "home:Library/Caches",
        "home:Library/Containers/com.apple.Safari/Data/Library/Caches",
        "home:Library/Developer/Xcode/DerivedData",
    };
    auto described = defaults().describedRules();
    EXPECT_EQ(described.size(), 19u);
    EXPECT_TRUE(std::is_sorted(described.begin(), described.end()));
    EXPECT_EQ(std::vector(described.begin(), described.begin() + 4), names);  // "home:" sorts first
    rules.chosen = {{"/b"}, {"*.mov"}, -5};
    rules.systemFolders = {"/s"};
    described = rules.describedRules();
    for (const char* line : {"folder:/b", "pattern:*.mov", "largerThan:-5", "system:/s", "name:.cargo/registry"})
        EXPECT_TRUE(std::find(described.begin(), described.end(), line) != described.end()) << line;

    struct Refusal {
        const char* pattern;
        const char* expected;  // a key of the texts file, or "" when accepted
    };
    std::map<std::string, std::optional<std::string>> texts;
    for (auto [pattern, key] : {Refusal{"   ", "refuse.empty"}, Refusal{"\t \xC2\xA0", "refuse.blank"},
                                Refusal{" *.* ", "refuse.all"}, Refusal{"*", "refuse.star"},
                                Refusal{"photos/*.jpg", "refuse.slash"}, Refusal{"*.mov", "accept.mov"},
                                Refusal{"**", "accept.stars"}, Refusal{"\n", "accept.newline"}})
        texts[key] = LeftOutPatternRules::refusal(pattern);
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
    test::expectTexts("exclusions.txt", texts);
}

TEST(Exclusions, WholeMacAndStoredForm) {
    EXPECT_EQ(WholeMac::exclusions({}, std::nullopt).systemFolders, WholeMac::systemFolders());
    EXPECT_EQ(WholeMac::exclusions({}, "").systemFolders.size(), 3u);
    std::vector<std::string> asked;
    EXPECT_EQ(WholeMac::access([&](const std::string& p) { asked.push_back(p); return true; }), WholeMac::Access::granted);
    EXPECT_EQ(asked, std::vector<std::string>{"/Library/Application Support/com.apple.TCC"});
    EXPECT_EQ(WholeMac::access([](const std::string&) { return false; }), WholeMac::Access::needsFullDiskAccess);
    EXPECT_EQ(WholeMac::sentence(WholeMac::Access::granted), std::nullopt);

    const Exclusions full = WholeMac::exclusions({{"/a", "/b"}, {"*.z", "*.a"}, 7}, "/Backups");
    EXPECT_EQ(Exclusions::fromJSON(full.toJSON()), full);
    EXPECT_FALSE(defaults().toJSON()["chosen"].contains("largerThan"));
    EXPECT_EQ(Exclusions::fromJSON(JSON::parse(
                  R"({"names":[],"anchoredPaths":[],"systemFolders":[],"chosen":{"folders":[],"patterns":[],"largerThan":null}})")),
              Exclusions{});
    for (const char* damaged :
         {R"({"names":[],"anchoredPaths":[],"systemFolders":[]})", R"({"names":{},"anchoredPaths":[],"systemFolders":[],"chosen":{"folders":[],"patterns":[]}})",
          R"({"names":[],"anchoredPaths":[],"systemFolders":[1],"chosen":{"folders":[],"patterns":[]}})",
          R"({"names":[],"anchoredPaths":[],"systemFolders":[],"chosen":{"folders":[]}})",
          R"({"names":[],"anchoredPaths":[],"systemFolders":[],"chosen":{"folders":[],"patterns":[],"largerThan":"9"}})"})
        EXPECT_THROW(Exclusions::fromJSON(JSON::parse(damaged)), RepositoryJSON::DecodingError) << damaged;
}

}  // namespace

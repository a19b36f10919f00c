#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/Localization.h"

namespace {

using wm::Localization::format;
using wm::Localization::Value;

std::string fill(std::string_view pattern, std::vector<Value> values) {
    return format(pattern, std::span<const Value>(values.data(), values.size()));
}

TEST(SentenceFormat, PlaceholdersAndValues) {
    struct Case {
        const char* pattern;
        std::vector<Value> values;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"plain text", {}, "plain text"},
        {"%@ copied", {"Photos"}, "Photos copied"},
        {"%lld files", {1234}, "1234 files"},
        {"%lld files", {-5}, "-5 files"},
        {"%@ and %@", {"a", "b"}, "a and b"},
        {"%2$@ before %1$@", {"first", "second"}, "second before first"},
        {"%2$lld of %1$lld", {10, 3}, "3 of 10"},
        {"%1$@, %1$@", {"echo"}, "echo, echo"},
        {"100%% done", {}, "100% done"},
        {"%%@ is literal", {"x"}, "%@ is literal"},
        {"%@ and %@", {"only"}, "only and "},      // a missing value becomes ""
        {"%3$@!", {"a", "b"}, "!"},                  // position beyond the values
        {"%0$@", {"a"}, "%0$@"},                     // position 0 is no directive
        {"%q and %@", {"v"}, "%q and v"},            // unknown directive kept
        {"trailing %", {}, "trailing %"},
        {"%99999999999999999999$@", {"a"}, ""},     // huge position, no overflow
        {"%ld/%d/%u/%llu", {1, 2, 3, 4}, "1/2/3/4"},
        {"%@", {std::uint64_t{18446744073709551615ULL}}, "9223372036854775807"},
    };
    for (const Case& c : cases) EXPECT_EQ(fill(c.pattern, c.values), c.expected) << c.pattern;
}

TEST(SentenceFormat, ValuesAreNeverScannedAgain) {
    // A value that holds directives is put in as it stands, in a single pass.
    EXPECT_EQ(fill("%@ / %@", {"%@%lld%%", "second"}), "%@%lld%% / second");
    EXPECT_EQ(fill("%2$@ %1$@", {"%2$@", "%1$@"}), "%1$@ %2$@");
    EXPECT_EQ(fill("[%@]", {"%n%s%x%p"}), "[%n%s%x%p]");
    const std::string huge(100000, '%');
    EXPECT_EQ(fill("<%@>", {huge}), "<" + huge + ">");
}

TEST(SentenceFormat, EnglishFallbackWithoutCatalogue) {
    EXPECT_EQ(WM_L("%@ is ready", "Backup"), "Backup is ready");
    EXPECT_EQ(wm::Localization::lookup("wm-test", ""), "");
}

// A catalogue compiled by gettext's own msgfmt from entries of (original, translation).
void writeCatalogue(const std::filesystem::path& file, const std::map<std::string, std::string>& entries) {
    std::filesystem::create_directories(file.parent_path());
    const std::string po = file.string() + ".po";
    std::ofstream out(po);
    out << "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    for (const auto& [key, value] : entries) out << "\n#, no-c-format\nmsgid \"" << key << "\"\nmsgstr \"" << value << "\"\n";
    out.close();
    ASSERT_EQ(std::system(("msgfmt -o '" + file.string() + "' '" + po + "'").c_str()), 0);
}

TEST(Localization, TranslatedSentenceWithReorderedValues) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("wm-core-l10n-" + std::to_string(getpid()));
    writeCatalogue(root / "fr" / "LC_MESSAGES" / "wm-test.mo",
                   {{"%@ was copied to %@.", "Vers %2$@ : %1$@ a été copié."},
                    {"%lld files in %@", "%2$@ : %1$lld fichiers"}});
    const std::string before = wm::Localization::catalogueDirectory();
    wm::Localization::setCatalogueDirectoryForTesting(root.string());
    wm::Localization::setLocaleForTesting("fr_FR");

    EXPECT_EQ(WM_L("%@ was copied to %@.", "Photos", "Disque"), "Vers Disque : Photos a été copié.");
    EXPECT_EQ(WM_L("%lld files in %@", 12, "%1$@"), "%1$@ : 12 fichiers");
    EXPECT_EQ(WM_L("Not in the catalogue %@", "x"), "Not in the catalogue x");
    EXPECT_EQ(wm::Localization::localeIdentifier(), "fr_FR");

    wm::Localization::setLocaleForTesting("en_US");
    wm::Localization::setCatalogueDirectoryForTesting(before);
    EXPECT_EQ(WM_L("%@ was copied to %@.", "Photos", "Disque"), "Photos was copied to Disque.");
    fs::remove_all(root);
}

TEST(Localization, LocaleIdentifierFromEnvironmentNames) {
    for (const auto& [name, identifier] : {std::pair{"de_DE.UTF-8@euro", "de_DE"}, {"POSIX", "en_US"}, {"C.UTF-8", "en_US"}}) {
        wm::Localization::setLocaleForTesting(name);
        EXPECT_EQ(wm::Localization::localeIdentifier(), identifier) << name;
    }
    wm::Localization::setLocaleForTesting("en_US");
}

}  // namespace

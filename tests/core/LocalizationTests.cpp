#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Localization.h"
#include "support/Catalogue.h"
#include "support/DataTable.h"

namespace {

using wm::Localization::Value;

TEST(SentenceFormat, PlaceholdersAndValues) {
    for (const auto& row : wm::test::dataTable("core/sentence-format.tsv", 3)) {
        std::vector<Value> values;
        for (const std::string& v : row[1].empty() ? std::vector<std::string>{} : wm::test::split(row[1], '|')) {
            if (v.find_first_not_of("-0123456789") != std::string::npos)
                values.emplace_back(v);
            else if (v.starts_with('-'))
                values.emplace_back(std::stoll(v));
            else
                values.emplace_back(std::stoull(v));
        }
        EXPECT_EQ(wm::Localization::format(row[0], values), row[2]) << row[0];
    }
}

TEST(Localization, TranslatedSentenceWithReorderedValues) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("wm-core-l10n-" + std::to_string(getpid()));
    wm::test::writeCatalogue(
        root / "fr" / "LC_MESSAGES" / "wm-test.mo",
        {{"%@ was copied to %@.", "Vers %2$@ : %1$@ a été copié."}, {"%lld files in %@", "%2$@ : %1$lld fichiers"}});
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
    for (const auto& [name, identifier] :
         {std::pair{"de_DE.UTF-8@euro", "de_DE"}, {"POSIX", "en_US"}, {"C.UTF-8", "en_US"}})
        EXPECT_EQ((wm::Localization::setLocaleForTesting(name), wm::Localization::localeIdentifier()), identifier)
            << name;
    wm::Localization::setLocaleForTesting("en_US");
}

}  // namespace

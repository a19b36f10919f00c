// Destinations over the network: share kinds and the first backup's estimated duration.
#include <gtest/gtest.h>

#include <cmath>

#include "policy/FirstBackupEstimate.h"
#include "policy/NetworkShare.h"

namespace {

using namespace wm;

TEST(NetworkShare, KindFromMountDevice) {
    using NetworkShare::Kind;
    const std::pair<const char*, std::optional<Kind>> cases[] = {
        {"//server/Backups", Kind::smb}, {"smb://server/Backups", Kind::smb}, {"SMB://server/x", Kind::smb},
        {"AFP://server/Share", Kind::afp}, {"server:/export/backups", Kind::nfs}, {"/dev/disk4s2", std::nullopt},
        {"/dev/x:/y", std::nullopt}, {"/DEV/x:/y", std::nullopt}, {"server", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& [device, kind] : cases) EXPECT_EQ(NetworkShare::kind(device), kind) << device;
}

TEST(FirstBackupEstimate, RoundedRangesAboveTwoMinutes) {
    const std::pair<double, const char*> cases[] = {
        {600, "10 minutes"}, {2000, "35 minutes"}, {5340, "90 minutes"}, {5400, "2 hours"}, {75000, "21 hours"},
        {250000, "3 days"},  {86400, "1 day"},     {129600, "2 days"},   {0, "5 minutes"},  {-7, "5 minutes"},
        {NAN, "5 minutes"},  {INFINITY, "5 minutes"}, {1e300, "9,223,372,036,854,775,807 days"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(FirstBackupEstimate::describe(seconds), text) << seconds;
    using FirstBackupEstimate::Destination;
    for (std::int64_t bytes : {0LL, -5LL, 14'400'000'000LL})
        EXPECT_EQ(FirstBackupEstimate::sentence(bytes, Destination::localDrive), std::nullopt) << bytes;
    EXPECT_NE(FirstBackupEstimate::sentence(14'400'000'001, Destination::localDrive), std::nullopt);
}

}  // namespace

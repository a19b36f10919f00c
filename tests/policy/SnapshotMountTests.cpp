#include <gtest/gtest.h>

#include "ExpectedTexts.h"
#include "policy/AppLocation.h"
#include "policy/SnapshotMount.h"

namespace {

using namespace wm;

TEST(SnapshotMount, NamesAndFoldersOfStrictFormOnly) {
    const std::string good = "com.apple.TimeMachine.2024-05-01-101530.local";
    EXPECT_TRUE(SnapshotMount::isSnapshotName(good));
    for (const std::string& bad : std::vector<std::string>{" " + good, good + "\n", std::string("com.apple.TimeMachine.2024-05-01-10153.local"),
                                  std::string("com.apple.timemachine.2024-05-01-101530.local"),
                                  std::string("com.apple.TimeMachine.2024-05-01-10153\xD9\xA3.local"),  // Arabic digit
                                  std::string("com.apple.TimeMachine.2024x05-01-101530.local"), std::string("")})
        EXPECT_FALSE(SnapshotMount::isSnapshotName(bad)) << bad;

    EXPECT_EQ(SnapshotMount::snapshotName("NOTE: x\nCreated local snapshot with date: 2024-05-01-101530\n"), good);
    EXPECT_EQ(SnapshotMount::snapshotName("Created local snapshot with date: soon\n"
                                          "Created local snapshot with date: 2024-05-01-1015301"),
              good);
    EXPECT_EQ(SnapshotMount::snapshotName("Created local snapshot with date: 2024-05-01-10153"), std::nullopt);
    EXPECT_EQ(SnapshotMount::snapshotName("nothing here"), std::nullopt);

    const std::string root(SnapshotMount::mountRoot);
    const auto id = UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F").value();
    const std::string folder = SnapshotMount::mountFolder(id);
    EXPECT_EQ(folder, root + "/E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_TRUE(SnapshotMount::isMountFolder(folder));
    EXPECT_TRUE(SnapshotMount::isMountFolder(SnapshotMount::mountFolder(UUID::random())));
    for (const std::string& bad : std::vector<std::string>{root, root + "/", folder + "/", folder + "/x", root + "/e621e1f8-c36c-495a-93fc-0c247a3e6e5f",
                                  root + "/E621E1F8C36C495A93FC0C247A3E6E5F", "/tmp/E621E1F8-C36C-495A-93FC-0C247A3E6E5F"})
        EXPECT_FALSE(SnapshotMount::isMountFolder(bad)) << bad;

    EXPECT_EQ(SnapshotMount::mountCommand(good, folder),
              (std::vector<std::string>{"/sbin/mount_apfs", "-o", "rdonly,nobrowse", "-s", good, "/System/Volumes/Data",
                                        folder}));
    EXPECT_EQ(SnapshotMount::mountCommand(good, "/tmp/E621E1F8-C36C-495A-93FC-0C247A3E6E5F"), std::nullopt);
    EXPECT_EQ(SnapshotMount::mountCommand(good + ";rm", folder), std::nullopt);
    EXPECT_EQ(SnapshotMount::unmountCommand(folder), (std::vector<std::string>{"/sbin/umount", folder}));
    EXPECT_EQ(SnapshotMount::unmountCommand(root), std::nullopt);
}

TEST(AppLocation, FromTheBundlePath) {
    struct Case {
        const char* path;
        AppLocation expected;
    };
    const Case cases[] = {
        {"/Applications/Wendle Marsh.app", AppLocation::installed},
        {"/Volumes/Wendle Marsh/Wendle Marsh.app", AppLocation::diskImage},
        {"/Volumes/X/private/AppTranslocation/1/d/Wendle Marsh.app", AppLocation::temporaryCopy},
        {"/private/var/folders/apptranslocation/Wendle Marsh.app", AppLocation::installed},
        {"/volumes/x/Wendle Marsh.app", AppLocation::installed},
    };
    for (const Case& c : cases) EXPECT_EQ(AppLocation::of(c.path), c.expected) << c.path;
    EXPECT_TRUE(AppLocation(AppLocation::installed).canOpenAtLogin());
    EXPECT_FALSE(AppLocation(AppLocation::diskImage).canOpenAtLogin());
    test::expectTexts("app-location.txt", {{"installed", AppLocation(AppLocation::installed).sentence()},
                                           {"temporaryCopy", AppLocation(AppLocation::temporaryCopy).sentence()},
                                           {"diskImage", AppLocation(AppLocation::diskImage).sentence()}});
}

}  // namespace

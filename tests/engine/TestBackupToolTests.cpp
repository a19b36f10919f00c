// The test-backup tool as a separate process: what the main job and the maintenance run do not
// check.

#include <sys/acl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "storage/LocalFolderDestination.h"
#include "support/EngineTestSupport.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;

int runTool(const std::vector<std::string>& arguments) {
    std::string command = WM_TEST_BACKUP_TOOL;
    for (const auto& a : arguments) command += " '" + a + "'";
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct TestBackupTool : ::testing::Test {
    TempFolder temp{"wm-test-backup"};
    fs::path source = temp / "source", repository = temp / "repository", passphrase = temp / "passphrase.txt";
    std::vector<std::string> create = {source.string(),       repository.string(),
                                       "--passphrase-file",   passphrase.string(),
                                       "--recovery-key-file", (temp / "recovery.txt").string(),
                                       "--iterations",        "1000"};

    void SetUp() override {
        temp.writeFile("source/big.bin", randomBytes(3'000'000, 7));
        acl_t acl = acl_from_text("u::rw-,u:65534:r--,g::r--,m::r--,o::r--");
        ASSERT_EQ(acl_set_file((source / "big.bin").c_str(), ACL_TYPE_ACCESS, acl), 0);
        acl_free(acl);
        ASSERT_EQ(::mkfifo((source / "pipe").c_str(), 0644), 0);
        ::mknod((source / "device").c_str(), S_IFCHR | 0600, makedev(1, 3));  // only as root
        temp.writeFile("passphrase.txt", "\xC2\xA0 a long enough passphrase \r\n\n");
    }
    std::shared_ptr<Repository> unlock() {
        auto destination = std::make_shared<LocalFolderDestination>(
            DestinationID::random(), DestinationKind::localFolder(), repository, std::nullopt,
            LocalFolderDestination::Preparation::readingOnly());
        return Repository::unlock(destination, std::string_view("a long enough passphrase"), testDevice(), "1.0",
                                  std::nullopt, Repository::Access::readOnly)
            .repository;
    }
};

// A later backup into the same repository (the refusals are in the tools' answer table).
TEST_F(TestBackupTool, CapturesAclsAndSpecialFilesAndDeduplicatesALaterBackup) {
    ASSERT_EQ(runTool(create), 0);
    ASSERT_EQ(runTool({source.string(), repository.string(), "--passphrase-file", passphrase.string()}), 0);
    const auto repo = unlock();
    const auto ids = repo->snapshotIDs();
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(repo->snapshot(ids[1]).parent, ids[0].value);
    EXPECT_LT(repo->snapshot(ids[1]).stats.bytesNew, 1000u);
    std::size_t special = 0;
    forEachEntry(*repo, ids[1], [&](const TreeObject::Entry& entry, const std::string& path) {
        if (path == "big.bin") {
            ASSERT_TRUE(entry.acl.has_value());
            EXPECT_NE(stringOf(*entry.acl).find("user:nobody:r--"), std::string::npos) << stringOf(*entry.acl);
            return;
        }
        EXPECT_EQ(entry.entryType,
                  path == "pipe" ? TreeObject::EntryType::fifo : TreeObject::EntryType::characterDevice)
            << path;
        EXPECT_FALSE(entry.contentBlobs.has_value()) << path;
        ++special;
    });
    EXPECT_GE(special, 1u);
}

}  // namespace
}  // namespace wm::test

// The test-backup tool, run as a separate process over a folder holding every kind of entry.
#ifdef WM_TEST_BACKUP_TOOL

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "crypto/RecoveryKey.h"
#include "format/TreeObject.h"
#include "storage/LocalFolderDestination.h"
#include "support/TempFolder.h"

namespace wm::test {
namespace {

namespace fs = std::filesystem;

int runTool(const std::vector<std::string>& arguments) {
    std::string command = WM_TEST_BACKUP_TOOL;
    for (const auto& a : arguments) command += " '" + a + "'";
    command += " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::shared_ptr<Destination> folderDestination(const fs::path& path) {
    return std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), path,
                                                    std::nullopt, LocalFolderDestination::Preparation::readingOnly());
}

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry of a snapshot by its path, with the content of its file read back.
struct Walked {
    TreeObject::Entry entry;
    Bytes content;
};

std::map<std::string, Walked> walkSnapshot(const Repository& repository, const SnapshotID& id) {
    std::map<std::string, Walked> entries;
    forEachEntry(repository, id, [&](const TreeObject::Entry& entry, const std::string& path) {
        Walked& w = entries[path] = Walked{entry, {}};
        for (const auto& blob : entry.contentBlobs.value_or(std::vector<BlobID>{})) {
            const Bytes part = repository.blob(blob);
            w.content.insert(w.content.end(), part.begin(), part.end());
        }
    });
    return entries;
}

class TestBackupTool : public ::testing::Test {
protected:
    TempFolder temp{"wm-test-backup"};
    fs::path source = temp / "source";
    fs::path repository = temp / "repository";
    fs::path passphrase = temp / "passphrase.txt";
    fs::path recoveryKey = temp / "recovery.txt";
    Bytes big = randomBytes(5'500'000, 7);
    bool madeDevice = false;

    void SetUp() override {
        temp.writeFile("source/top.txt", "top level\n");
        temp.writeFile("source/folder/inner/big.bin", big);
        temp.writeFile("source/folder/empty.txt", "");
        fs::create_directories(source / "empty folder");
        fs::create_hard_link(source / "top.txt", source / "folder/second name.txt");
        fs::create_hard_link(source / "top.txt", source / "folder/inner/third name.txt");
        fs::create_symlink("../top.txt", source / "folder/link");
        // 8 MiB with one written block in the middle: holes on both sides.
        {
            std::ofstream sparse(source / "sparse.img", std::ios::binary);
            sparse.seekp(4 << 20);
            sparse << "middle";
        }
        fs::resize_file(source / "sparse.img", 8 << 20);
        ASSERT_EQ(::setxattr((source / "top.txt").c_str(), "user.colour", "blue", 4, 0), 0);
        acl_t acl = acl_from_text("u::rw-,u:65534:r--,g::r--,m::r--,o::r--");
        ASSERT_NE(acl, nullptr);
        ASSERT_EQ(acl_set_file((source / "folder/inner/big.bin").c_str(), ACL_TYPE_ACCESS, acl), 0);
        acl_free(acl);
        ASSERT_EQ(::mkfifo((source / "pipe").c_str(), 0644), 0);
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, (source / "socket").c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(s);
        madeDevice = ::mknod((source / "device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
        temp.writeFile("passphrase.txt", "\xC2\xA0 a long enough passphrase \r\n\n");
    }

    Repository::Unlocked unlockWithPassphrase() {
        return Repository::unlock(folderDestination(repository), std::string_view("a long enough passphrase"),
                                  testDevice(), "1.0", std::nullopt, Repository::Access::readOnly);
    }
    std::vector<std::string> createArguments() {
        return {source.string(), repository.string(), "--passphrase-file", passphrase.string(), "--recovery-key-file",
                recoveryKey.string(), "--iterations", "1000"};
    }
};

TEST_F(TestBackupTool, BacksUpEveryKindOfEntry) {
    ASSERT_EQ(runTool(createArguments()), 0);
    const auto unlocked = unlockWithPassphrase();
    const Repository& repo = *unlocked.repository;
    ASSERT_EQ(repo.snapshotIDs().size(), 1u);
    const auto id = repo.snapshotIDs()[0];
    const auto record = repo.snapshot(id);
    EXPECT_EQ(stringOf(record.sources.at(0).path), fs::canonical(source).string());
    EXPECT_EQ(record.stats.files, 6u);  // top, big, empty, two more names, sparse

    const auto entries = walkSnapshot(repo, id);
    EXPECT_EQ(entries.at("top.txt").content, bytesOf("top level\n"));
    EXPECT_EQ(entries.at("folder/inner/big.bin").content, big);
    EXPECT_GT(entries.at("folder/inner/big.bin").entry.contentBlobs->size(), 1u);  // cut into chunks
    EXPECT_TRUE(entries.at("folder/empty.txt").entry.contentBlobs.has_value());
    EXPECT_TRUE(entries.at("empty folder").entry.childTree.has_value());

    // Three names of one file share a group and the content.
    const auto group = entries.at("top.txt").entry.hardlinkGroup;
    ASSERT_TRUE(group.has_value());
    EXPECT_EQ(entries.at("folder/second name.txt").entry.hardlinkGroup, group);
    EXPECT_EQ(entries.at("folder/inner/third name.txt").entry.hardlinkGroup, group);
    EXPECT_EQ(entries.at("folder/inner/third name.txt").content, bytesOf("top level\n"));
    EXPECT_FALSE(entries.at("folder/inner/big.bin").entry.hardlinkGroup.has_value());

    EXPECT_EQ(entries.at("folder/link").entry.symlinkTarget, bytesOf("../top.txt"));

    // Only the data regions of the sparse file are content; the holes are recorded.
    const auto& sparse = entries.at("sparse.img");
    EXPECT_EQ(sparse.entry.size, std::uint64_t{8 << 20});
    ASSERT_TRUE(sparse.entry.sparseRanges.has_value());
    std::uint64_t holes = 0;
    for (const auto& h : *sparse.entry.sparseRanges) holes += h.length;
    EXPECT_EQ(sparse.content.size() + holes, std::uint64_t{8 << 20});
    EXPECT_LT(sparse.content.size(), std::size_t{1 << 20});
    EXPECT_NE(std::search(sparse.content.begin(), sparse.content.end(), std::begin("middle"), std::end("middle") - 1),
              sparse.content.end());

    const auto& top = entries.at("top.txt").entry;
    ASSERT_TRUE(top.extendedAttributes.has_value());
    EXPECT_NE(std::find(top.extendedAttributes->begin(), top.extendedAttributes->end(),
                        TreeObject::ExtendedAttribute{bytesOf("user.colour"), bytesOf("blue")}),
              top.extendedAttributes->end());
    const auto& acl = entries.at("folder/inner/big.bin").entry.acl;
    ASSERT_TRUE(acl.has_value());
    EXPECT_NE(stringOf(*acl).find("user:nobody:r--"), std::string::npos) << stringOf(*acl);

    for (const auto& [name, type] : {std::pair{"pipe", TreeObject::EntryType::fifo},
                                     std::pair{"socket", TreeObject::EntryType::socket},
                                     std::pair{"device", TreeObject::EntryType::characterDevice}}) {
        if (name == std::string("device") && !madeDevice) continue;
        EXPECT_EQ(entries.at(name).entry.entryType, type) << name;
        EXPECT_FALSE(entries.at(name).entry.contentBlobs.has_value()) << name;
    }
}

TEST_F(TestBackupTool, LaterBackupsUnlockWithEitherSecretAndDeduplicate) {
    ASSERT_EQ(runTool(createArguments()), 0);
    temp.writeFile("source/new.txt", "new since the first backup");
    ASSERT_EQ(runTool({source.string(), repository.string(), "--recovery-key-file", recoveryKey.string()}), 0);
    ASSERT_EQ(runTool({source.string(), repository.string(), "--passphrase-file", passphrase.string()}), 0);

    const auto key = RecoveryKey::parse(readText(recoveryKey));
    const auto unlocked = Repository::unlock(folderDestination(repository), key, testDevice(), "1.0", std::nullopt,
                                             Repository::Access::readOnly);
    const auto ids = unlocked.repository->snapshotIDs();
    ASSERT_EQ(ids.size(), 3u);
    const auto second = unlocked.repository->snapshot(ids[1]);
    EXPECT_EQ(second.parent, ids[0].value);
    EXPECT_LT(second.stats.bytesNew, 1000u);
    EXPECT_GT(second.stats.bytesDeduplicated, big.size());
    EXPECT_EQ(walkSnapshot(*unlocked.repository, ids[2]).at("new.txt").content, bytesOf("new since the first backup"));
}

TEST_F(TestBackupTool, MakesTheAskedVersionAndRefusesWithoutTheRightSecret) {
    EXPECT_NE(runTool({source.string(), repository.string()}), 0);  // no recovery-key file to write
    EXPECT_FALSE(fs::exists(repository));
    EXPECT_NE(runTool({source.string(), repository.string(), "--format-version", "3", "--recovery-key-file", "x"}), 0);
    auto arguments = createArguments();
    arguments.insert(arguments.end(), {"--format-version", "1"});
    ASSERT_EQ(runTool(arguments), 0);
    const auto unlocked = unlockWithPassphrase();
    EXPECT_EQ(unlocked.repository->config().formatVersion, 1);
    EXPECT_EQ(unlocked.repository->cipher().sealing(), BlobCipher::Sealing::fixedNonce);
    EXPECT_EQ(walkSnapshot(*unlocked.repository, unlocked.repository->snapshotIDs()[0]).at("folder/inner/big.bin").content,
              big);
    temp.writeFile("wrong.txt", "not the passphrase at all");
    EXPECT_EQ(runTool({source.string(), repository.string(), "--passphrase-file", (temp / "wrong.txt").string()}), 1);
}

}  // namespace
}  // namespace wm::test

#endif

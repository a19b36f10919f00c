#include "TestBackup.h"

#include <map>

#include "crypto/BlobType.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "crypto/RepositoryKeys.h"
#include "crypto/SecureRandom.h"
#include "crypto/SymmetricKey.h"
#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "format/TreeObject.h"
#include "storage/LocalFolderDestination.h"

namespace wm::testing {

namespace {

// A folder of the snapshot being built: its files and its subfolders by name.
struct Folder {
    std::map<std::string, std::string> files;
    std::map<std::string, Folder> folders;
};

TreeObject::Timestamp stamp(Date date) {
    return {date.microseconds / 1000000, static_cast<std::uint32_t>((date.microseconds % 1000000) * 1000)};
}

BlobID storeTree(Repository& repository, const Folder& folder, Date when) {
    std::vector<TreeObject::Entry> entries;
    for (const auto& [name, child] : folder.folders) {
        TreeObject::Entry entry;
        entry.name = bytesOf(name);
        entry.entryType = TreeObject::EntryType::directory;
        entry.mode = 040755;
        entry.modificationTime = stamp(when);
        entry.changeTime = stamp(when);
        entry.childTree = storeTree(repository, child, when);
        entries.push_back(std::move(entry));
    }
    for (const auto& [name, contents] : folder.files) {
        TreeObject::Entry entry;
        entry.name = bytesOf(name);
        entry.entryType = TreeObject::EntryType::file;
        entry.mode = 0100644;
        entry.modificationTime = stamp(when);
        entry.changeTime = stamp(when);
        entry.size = contents.size();
        std::vector<BlobID> blobs;
        if (!contents.empty()) blobs.push_back(repository.store(viewOf(contents), BlobType::data).id);
        entry.contentBlobs = blobs;
        entries.push_back(std::move(entry));
    }
    return repository.store(TreeObject::encode(entries), BlobType::tree).id;
}

}  // namespace

TestBackup TestBackup::create(const std::filesystem::path& folder, std::optional<std::string> passphrase) {
    TestBackup backup;
    backup.folder_ = folder;
    auto destination =
        std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), folder,
                                                 std::nullopt, LocalFolderDestination::Preparation::preparing());
    const SymmetricKey master = SymmetricKey::random();
    const RepositoryID id = *RepositoryID::fromBytes(SecureRandom::bytes(32));
    const RepositoryKeys keys(master, id);
    std::optional<RepositoryConfig::KDF> kdf;
    std::optional<Passphrase::Settings> settings;
    if (passphrase) {
        settings = Passphrase::makeSettings(iterations);
        kdf = RepositoryConfig::KDF{settings->algorithm, settings->salt, settings->iterations};
    }
    DeviceID device;
    device.bytes.fill(0x11);
    backup.repository_ = Repository::create(destination, keys, device, "test", kdf, 2, Date::repositoryNow());
    if (passphrase) {
        backup.repository_->addKeyFile(
            KeyFile::wrap(master, *passphrase, settings->salt, settings->iterations, std::nullopt, Date::repositoryNow()));
    }
    backup.recoveryKey_ = backup.repository_->addRecoveryKey(std::nullopt).text();
    return backup;
}

SnapshotID TestBackup::commit(const std::vector<TestFile>& files, Date createdAt,
                              const std::vector<std::string>& sources) {
    Folder root;
    SnapshotStats stats;
    for (const auto& file : files) {
        Folder* folder = &root;
        std::string rest = file.path;
        for (auto slash = rest.find('/'); slash != std::string::npos; slash = rest.find('/')) {
            folder = &folder->folders[rest.substr(0, slash)];
            rest = rest.substr(slash + 1);
        }
        folder->files[rest] = file.contents;
        ++stats.files;
        stats.bytesLogical += file.contents.size();
    }
    const BlobID tree = storeTree(*repository_, root, createdAt);
    std::vector<SnapshotSource> snapshotSources;
    for (const auto& source : sources) snapshotSources.push_back({bytesOf(source), SnapshotSource::Kind::folder});
    return repository_->commit(tree, snapshotSources, stats, {}, "test device", {}, std::nullopt, createdAt);
}

}  // namespace wm::testing

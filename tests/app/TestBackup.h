#pragma once
// Small real backups made through the repository engine: a passphrase (or none) and a
// recovery key, and snapshots made from a list of files.
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/BlobType.h"
#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"
#include "crypto/RepositoryKeys.h"
#include "crypto/SecureRandom.h"
#include "crypto/SymmetricKey.h"
#include "engine/KeyFiles.h"
#include "engine/Repository.h"
#include "format/TreeObject.h"
#include "storage/LocalFolderDestination.h"

namespace wm::testing {

struct TestFile {
    std::string path;  // relative, "/"-separated; folders on the way are made
    std::string contents;
};

inline Date at(double seconds) { return Date::fromSeconds(seconds).repositoryPrecision(); }

class TestBackup {
public:
    static TestBackup create(const std::filesystem::path& folder, std::optional<std::string> passphrase) {
        TestBackup backup;
        backup.folder_ = folder;
        auto destination =
            std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), folder,
                                                     std::nullopt, LocalFolderDestination::Preparation::preparing());
        const SymmetricKey master = SymmetricKey::random();
        const auto settings = Passphrase::makeSettings(1000);  // low, so the tests stay fast
        std::optional<RepositoryConfig::KDF> kdf;
        if (passphrase) kdf = RepositoryConfig::KDF{settings.algorithm, settings.salt, settings.iterations};
        DeviceID device;
        device.bytes.fill(0x11);
        const RepositoryID id = *RepositoryID::fromBytes(SecureRandom::bytes(32));
        const RecoveryKey recoveryKey = RecoveryKey::generate();
        std::vector<KeyFile> keyFiles{KeyFile::wrap(master, recoveryKey, id, std::nullopt, Date::repositoryNow())};
        if (passphrase)
            keyFiles.push_back(KeyFile::wrap(master, *passphrase, settings.salt, settings.iterations, std::nullopt,
                                             Date::repositoryNow()));
        backup.repository_ = Repository::create(destination, RepositoryKeys(master, id), device, "test", kdf, 2,
                                                Date::repositoryNow(), keyFiles);
        backup.recoveryKey_ = recoveryKey.text();
        return backup;
    }

    SnapshotID commit(const std::vector<TestFile>& files, Date createdAt,
                      const std::vector<std::string>& sources = {"/home/you/Documents"}) {
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
        std::vector<SnapshotSource> snapshotSources;
        for (const auto& source : sources) snapshotSources.push_back({bytesOf(source), SnapshotSource::Kind::folder});
        return repository_->commit({.rootTree = storeTree(root, createdAt),
                                    .sources = snapshotSources,
                                    .stats = stats,
                                    .deviceName = "test device",
                                    .now = createdAt});
    }

    // A snapshot of hand-made entries, as a damaged or hostile backup would hold them.
    BlobID store(std::string_view bytes, BlobType type = BlobType::data) {
        return repository_->store(viewOf(bytes), type).id;
    }
    SnapshotID commitEntries(const std::vector<TreeObject::Entry>& entries, Date createdAt) {
        return repository_->commit({.rootTree = repository_->store(TreeObject::encode(entries), BlobType::tree).id,
                                    .sources = {{bytesOf("/home/you"), SnapshotSource::Kind::folder}},
                                    .deviceName = "test device",
                                    .now = createdAt});
    }

    // Makes the head list exactly these snapshots, repeated or missing ones as well.
    void list(const std::vector<SnapshotID>& snapshots) {
        repository_->setHead(repository_->lockWriting(), snapshots, Date::repositoryNow());
    }

    const std::filesystem::path& folder() const { return folder_; }
    const std::string& recoveryKey() const { return recoveryKey_; }

private:
    struct Folder {
        std::map<std::string, std::string> files;
        std::map<std::string, Folder> folders;
    };

    BlobID storeTree(const Folder& folder, Date when) {
        std::vector<TreeObject::Entry> entries;
        auto add = [&](const std::string& name, TreeObject::EntryType type, std::uint32_t mode) -> TreeObject::Entry& {
            auto& entry = entries.emplace_back();
            std::tie(entry.name, entry.entryType, entry.mode) = std::tuple(bytesOf(name), type, mode);
            entry.modificationTime =
                entry.changeTime = {when.microseconds / 1000000, std::uint32_t(when.microseconds % 1000000 * 1000)};
            return entry;
        };
        for (const auto& [name, child] : folder.folders)
            add(name, TreeObject::EntryType::directory, 040755).childTree = storeTree(child, when);
        for (const auto& [name, contents] : folder.files) {
            auto& entry = add(name, TreeObject::EntryType::file, 0100644);
            entry.size = contents.size();
            if (!contents.empty()) entry.contentBlobs = {repository_->store(viewOf(contents), BlobType::data).id};
        }
        return repository_->store(TreeObject::encode(entries), BlobType::tree).id;
    }

    std::filesystem::path folder_;
    std::string recoveryKey_;
    std::shared_ptr<Repository> repository_;
};

}  // namespace wm::testing

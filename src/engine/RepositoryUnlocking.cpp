// Unlocking a repository with a recovery key or a passphrase, and managing its key files.
#include <exception>
#include <optional>

#include "crypto/Passphrase.h"
#include "engine/Repository.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

bool isKeyFilePath(const RepoPath& path) {
    if (path.isRoot()) return false;
    const std::string name = path.fileName();
    constexpr std::string_view suffix = ".key";
    return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

struct ConfigAndID {
    RepositoryConfig config;
    RepositoryID id;
};

ConfigAndID readConfig(Destination& destination) {
    RepositoryConfig config = RepositoryConfig::decode(Repository::readConfigFile(destination));
    std::optional<RepositoryID> id = config.identity();
    if (!id) throw RepositoryConfig::Error::malformed("repositoryID");
    return ConfigAndID{std::move(config), *id};
}

// Every key file under "keys" of the given method that can be read and decoded, in listing
// order. Files that cannot be read or decoded are passed over: they are never reported one
// by one. When not one key file could be read, the secret was never tried, so the first
// read error is thrown: a failing drive is not a wrong passphrase.
template <class Try>
std::optional<SymmetricKey> firstThatOpens(Destination& destination, KeyFile::Method method, Try&& tryOpen) {
    bool anyRead = false;
    std::exception_ptr firstReadError;
    for (const RepoPath& path : destination.list(RepositoryLayout::keysDirectory())) {
        if (!isKeyFilePath(path)) continue;
        std::optional<Bytes> bytes;
        try {
            bytes = destination.readAtMost(path, RepositoryFormat::keyFileMaximumBytes);
        } catch (const std::exception&) {
            if (!firstReadError) firstReadError = std::current_exception();
            continue;
        }
        anyRead = true;
        if (!bytes) continue;  // larger than any key file: damaged
        std::optional<KeyFile> file;
        try {
            file = KeyFile::decode(*bytes);
        } catch (const std::exception&) {
            continue;
        }
        if (file->method != method) continue;
        try {
            return tryOpen(*file);
        } catch (const std::exception&) {
            continue;  // wrong key or damaged file: try the next one
        }
    }
    if (!anyRead && firstReadError) std::rethrow_exception(firstReadError);
    return std::nullopt;
}

}  // namespace

Repository::Unlocked Repository::unlock(std::shared_ptr<Destination> destination, const RecoveryKey& recoveryKey,
                                        const DeviceID& deviceID, std::string appVersion,
                                        std::optional<std::uint64_t> rememberedCounter, Access access) {
    const ConfigAndID config = readConfig(*destination);
    std::optional<SymmetricKey> master =
        firstThatOpens(*destination, KeyFile::Method::recoveryKey,
                       [&](const KeyFile& file) { return file.unwrap(recoveryKey, config.id); });
    if (!master) throw KeyFile::Error::wrongKey();
    RepositoryKeys keys(*master, config.id);
    Opened opened = open(std::move(destination), keys, deviceID, std::move(appVersion), rememberedCounter, access);
    return Unlocked{std::move(opened.repository), opened.verdict, std::move(keys)};
}

Repository::Unlocked Repository::unlock(std::shared_ptr<Destination> destination, std::string_view passphrase,
                                        const DeviceID& deviceID, std::string appVersion,
                                        std::optional<std::uint64_t> rememberedCounter, Access access) {
    const ConfigAndID config = readConfig(*destination);
    if (!config.config.kdf) throw Error::noPassphraseSet();
    const RepositoryConfig::KDF& kdf = *config.config.kdf;

    // The derivation is slow by design: it runs once per unlock, and only when there is a
    // passphrase key file to try. A passphrase it refuses (too short) opens nothing.
    std::optional<SymmetricKey> wrappingKey;
    bool refused = false;
    std::optional<SymmetricKey> master =
        firstThatOpens(*destination, KeyFile::Method::passphrase, [&](const KeyFile& file) -> SymmetricKey {
            if (refused) throw KeyFile::Error::wrongKey();
            if (!wrappingKey) {
                try {
                    wrappingKey = Passphrase::deriveKey(passphrase, kdf.salt, static_cast<std::uint32_t>(kdf.iterations));
                } catch (const Passphrase::Failure&) {
                    refused = true;
                    throw;
                }
            }
            return file.unwrap(*wrappingKey);
        });
    if (!master) throw KeyFile::Error::wrongKey();
    RepositoryKeys keys(*master, config.id);
    Opened opened = open(std::move(destination), keys, deviceID, std::move(appVersion), rememberedCounter, access);
    return Unlocked{std::move(opened.repository), opened.verdict, std::move(keys)};
}

RecoveryKey Repository::addRecoveryKey(std::optional<std::string> hint) {
    std::lock_guard writing(writerMutex_);
    RecoveryKey recoveryKey = RecoveryKey::generate();
    const KeyFile file =
        KeyFile::wrap(keys_->master, recoveryKey, keys_->repositoryID, std::move(hint), Date::now().repositoryPrecision());
    write(file.encoded(), RepositoryLayout::key(file.keyID), *destination_);
    return recoveryKey;
}

void Repository::addKeyFile(const KeyFile& keyFile) {
    std::lock_guard writing(writerMutex_);
    // A key identifier that cannot be a file name is refused by the layout.
    write(keyFile.encoded(), RepositoryLayout::key(keyFile.keyID), *destination_);
}

std::vector<KeyFile> Repository::keyFiles() const {
    std::vector<KeyFile> files;
    for (const RepoPath& path : destination_->list(RepositoryLayout::keysDirectory())) {
        if (!isKeyFilePath(path)) continue;
        // A read error ends the listing; a file larger than any key file is damaged.
        const std::optional<Bytes> bytes = destination_->readAtMost(path, RepositoryFormat::keyFileMaximumBytes);
        if (!bytes) continue;
        try {
            files.push_back(KeyFile::decode(*bytes));
        } catch (const KeyFile::Error&) {
        }
    }
    return files;
}

void Repository::removeKeyFile(const KeyFile& keyFile) {
    std::lock_guard writing(writerMutex_);
    const std::vector<KeyFile> files = keyFiles();
    if (!KeyFileSet::canRemove(keyFile, files)) throw KeyFile::Error::wouldRemoveLastPortableKey();
    destination_->remove(RepositoryLayout::key(keyFile.keyID));
}

}  // namespace wm

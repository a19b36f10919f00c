// Unlocking a repository with a recovery key or a passphrase: the key file the secret opens,
// then the repository opened with the keys it gives.
#include <exception>
#include <optional>

#include "crypto/Passphrase.h"
#include "engine/KeyFiles.h"
#include "engine/Repository.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

struct ConfigAndID {
    RepositoryConfig config;
    RepositoryID id;
};

ConfigAndID readConfig(Destination& destination) {
    RepositoryConfig config = RepositoryConfig::decode(readConfigFile(destination));
    std::optional<RepositoryID> id = config.identity();
    if (!id) throw RepositoryConfig::Error::malformed("repositoryID");
    return ConfigAndID{std::move(config), *id};
}

std::optional<Repository::KeyOpening> keysFrom(std::optional<KeyFiles::Opening> opening, const RepositoryID& id) {
    if (!opening) return std::nullopt;
    return Repository::KeyOpening{RepositoryKeys(opening->master, id), std::move(opening->keyFile)};
}

Repository::KeyOpening opened(std::optional<Repository::KeyOpening> opening) {
    if (!opening) throw KeyFile::Error::wrongKey();
    return std::move(*opening);
}

}  // namespace

std::optional<Repository::KeyOpening> Repository::openKeyFile(Destination& destination,
                                                              const RecoveryKey& recoveryKey) {
    const ConfigAndID config = readConfig(destination);
    return keysFrom(KeyFiles::firstThatOpens(destination, KeyFile::Method::recoveryKey,
                                             [&](const KeyFile& file) { return file.unwrap(recoveryKey, config.id); }),
                    config.id);
}

std::optional<Repository::KeyOpening> Repository::openKeyFile(Destination& destination, std::string_view passphrase) {
    const ConfigAndID config = readConfig(destination);
    if (!config.config.kdf) throw Error::noPassphraseSet();
    const RepositoryConfig::KDF& kdf = *config.config.kdf;

    // The derivation is slow by design: it runs once, and only when there is a passphrase key
    // file to try. A passphrase it refuses (too short) opens nothing.
    std::optional<SymmetricKey> wrappingKey;
    bool refused = false;
    return keysFrom(KeyFiles::firstThatOpens(destination, KeyFile::Method::passphrase,
                                             [&](const KeyFile& file) -> SymmetricKey {
                                                 if (refused) throw KeyFile::Error::wrongKey();
                                                 if (!wrappingKey) {
                                                     try {
                                                         wrappingKey = Passphrase::deriveKey(
                                                             passphrase, kdf.salt,
                                                             static_cast<std::uint32_t>(kdf.iterations));
                                                     } catch (const Passphrase::Failure&) {
                                                         refused = true;
                                                         throw;
                                                     }
                                                 }
                                                 return file.unwrap(*wrappingKey);
                                             }),
                    config.id);
}

Repository::Unlocked Repository::unlock(std::shared_ptr<Destination> destination, const RecoveryKey& recoveryKey,
                                        const DeviceID& deviceID, std::string appVersion,
                                        std::optional<std::uint64_t> rememberedCounter, Access access) {
    KeyOpening opening = opened(openKeyFile(*destination, recoveryKey));
    Opened repository =
        open(std::move(destination), opening.keys, deviceID, std::move(appVersion), rememberedCounter, access);
    return Unlocked{std::move(repository.repository), repository.verdict, std::move(opening.keys)};
}

Repository::Unlocked Repository::unlock(std::shared_ptr<Destination> destination, std::string_view passphrase,
                                        const DeviceID& deviceID, std::string appVersion,
                                        std::optional<std::uint64_t> rememberedCounter, Access access) {
    KeyOpening opening = opened(openKeyFile(*destination, passphrase));
    Opened repository =
        open(std::move(destination), opening.keys, deviceID, std::move(appVersion), rememberedCounter, access);
    return Unlocked{std::move(repository.repository), repository.verdict, std::move(opening.keys)};
}

}  // namespace wm

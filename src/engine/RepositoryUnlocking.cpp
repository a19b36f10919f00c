// Unlocking a repository with a recovery key or a passphrase.
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

}  // namespace

Repository::Unlocked Repository::unlock(std::shared_ptr<Destination> destination, const RecoveryKey& recoveryKey,
                                        const DeviceID& deviceID, std::string appVersion,
                                        std::optional<std::uint64_t> rememberedCounter, Access access) {
    const ConfigAndID config = readConfig(*destination);
    std::optional<SymmetricKey> master =
        KeyFiles::firstThatOpens(*destination, KeyFile::Method::recoveryKey,
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
        KeyFiles::firstThatOpens(*destination, KeyFile::Method::passphrase, [&](const KeyFile& file) -> SymmetricKey {
            if (refused) throw KeyFile::Error::wrongKey();
            if (!wrappingKey) {
                try {
                    wrappingKey =
                        Passphrase::deriveKey(passphrase, kdf.salt, static_cast<std::uint32_t>(kdf.iterations));
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

}  // namespace wm

// Unlocking with a recovery key or a passphrase, and key-file management.
#include <gtest/gtest.h>

#include "crypto/KeyFile.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"
#include "engine/KeyFiles.h"
#include "format/RepositoryLayout.h"
#include "support/EngineTestSupport.h"

namespace wm::test {
namespace {

constexpr std::uint32_t kIterations = 1000;

class RepositoryUnlock : public ::testing::Test {
protected:
    std::shared_ptr<InMemoryDestination> memory = std::make_shared<InMemoryDestination>();
    RepositoryKeys keys = makeKeys();
    Passphrase::Settings settings = Passphrase::makeSettings(kIterations);

    std::shared_ptr<Repository> create(bool withPassphrase = true) {
        std::optional<RepositoryConfig::KDF> kdf;
        if (withPassphrase) kdf = RepositoryConfig::KDF{settings.algorithm, settings.salt, settings.iterations};
        return Repository::create(memory, keys, testDevice(), "1.0", kdf, 2, fixedNow());
    }
    KeyFile passphraseFile(std::string_view passphrase, std::uint32_t iterations = kIterations) {
        return KeyFile::wrap(keys.master, passphrase, settings.salt, iterations, std::nullopt, fixedNow());
    }
    void put(const KeyFile& file) { memory->put(RepositoryLayout::key(file.keyID), file.encoded()); }

    template <class Secret>
    Repository::Unlocked unlock(const Secret& secret, std::shared_ptr<Destination> destination = nullptr) {
        return Repository::unlock(destination ? destination : memory, secret, testDevice(), "1.0", std::nullopt,
                                  Repository::Access::readOnly);
    }
    template <class Secret>
    void expectWrongKey(const Secret& secret) {
        EXPECT_EQ(thrown<KeyFile::Error>([&] { unlock(secret); }).kind, KeyFile::Error::Kind::wrongKey);
    }
};

TEST_F(RepositoryUnlock, WrongSecretsMissingKeysAndDeviceKeysAreWrongKey) {
    auto repository = create();
    expectWrongKey(RecoveryKey::generate());  // no key file at all
    put(passphraseFile("the right passphrase"));
    expectWrongKey(std::string_view("the wrong passphrase"));
    expectWrongKey(std::string_view("short"));  // refused by the derivation
    expectWrongKey(RecoveryKey::generate());    // no recovery-key file
    EXPECT_NO_THROW(unlock(std::string_view("the right passphrase")));

    // Device key files are never tried.
    const RecoveryKey key = repository->keyFiles().addRecoveryKey(std::nullopt);
    for (const auto& path : filesUnder(*memory, "keys")) {
        KeyFile file = KeyFile::decode(memory->files().at(path));
        file.method = KeyFile::Method::deviceKey;
        memory->put(*RepoPath::parse(path), file.encoded());
    }
    expectWrongKey(key);
    expectWrongKey(std::string_view("the right passphrase"));
}

// A recovery key unlocks, past damaged or unreadable key files listed before its own.
TEST_F(RepositoryUnlock, RecoveryKeyUnlocksPastDamagedOrUnreadableKeyFiles) {
    auto repository = create();
    const auto id = commitFile(*repository, {randomBytes(500, 1)});
    const RecoveryKey key = repository->keyFiles().addRecoveryKey("in the drawer");
    memory->put(*RepoPath::parse("keys/00000000000000000000000000000000.key"), "{ not json");
    memory->put(*RepoPath::parse("keys/readme.txt"), "ignored");
    KeyFile damaged = KeyFile::wrap(keys.master, key, keys.repositoryID, std::nullopt, fixedNow());
    damaged.wrapped[5] ^= 1;  // decodes, but no key opens it
    put(damaged);
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->failCalls("keys/0000*", DestinationError::ioFailed(RepoPath(), "bad sector"),
                      {FaultyDestination::Operation::read});
    const auto unlocked = unlock(RecoveryKey::parse(key.text()), faulty);
    EXPECT_EQ(readWhole(*unlocked.repository, id), 500u);
    EXPECT_EQ(repository->keyFiles().all().size(), 2u);  // what decodes; other names are no key files

    // When not one key file can be read, the secret was never tried: the drive's error comes out.
    faulty->failCalls("keys/*", DestinationError::ioFailed(RepoPath(), "bad sector"),
                      {FaultyDestination::Operation::read});
    EXPECT_EQ(thrown<DestinationError>([&] { unlock(RecoveryKey::parse(key.text()), faulty); }).kind,
              DestinationError::Kind::ioFailed);
}

TEST_F(RepositoryUnlock, ConfigHeadAndMissingPassphraseErrorsComeFirst) {
    memory->put(RepositoryLayout::configFile(), "{}");
    EXPECT_EQ(thrown<RepositoryConfig::Error>([&] { unlock(RecoveryKey::generate()); }).kind,
              RepositoryConfig::Error::Kind::notARepository);
    memory->remove(RepositoryLayout::configFile());
    auto repository = create(false);
    const RecoveryKey key = repository->keyFiles().addRecoveryKey(std::nullopt);
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->failCalls("keys*", DestinationError::permissionDenied(RepoPath()));
    EXPECT_EQ(thrown<Repository::Error>([&] { unlock(std::string_view("whatever it is"), faulty); }),
              Repository::Error::noPassphraseSet());  // before any key file is read
    memory->remove(RepositoryLayout::head());
    EXPECT_EQ(thrown<Repository::Error>([&] { unlock(key); }), Repository::Error::headMissing());
}

TEST_F(RepositoryUnlock, RemovingTheLastPortableKeyOrAnEscapingNameIsRefused) {
    auto repository = create();
    repository->keyFiles().addRecoveryKey(std::nullopt);
    const KeyFile passphrase = passphraseFile("a good passphrase");
    repository->keyFiles().add(passphrase);
    auto files = repository->keyFiles().all();
    repository->keyFiles().remove(files.at(files[0].method == KeyFile::Method::recoveryKey ? 0 : 1));
    EXPECT_EQ(thrown<KeyFile::Error>([&] { repository->keyFiles().remove(passphrase); }).kind,
              KeyFile::Error::Kind::wouldRemoveLastPortableKey);
    KeyFile escaping = passphraseFile("a good passphrase");
    escaping.keyID = "../escape";
    EXPECT_THROW(repository->keyFiles().add(escaping), RepositoryLayout::Error);
    EXPECT_EQ(filesUnder(*memory, "keys").size(), 1u);
}

}  // namespace
}  // namespace wm::test

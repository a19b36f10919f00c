// Unlocking with a recovery key or a passphrase, and key-file management.
#include <chrono>

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "crypto/Passphrase.h"
#include "format/RepositoryLayout.h"

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

    Repository::Unlocked unlock(const RecoveryKey& key) {
        return Repository::unlock(memory, key, testDevice(), "1.0", std::nullopt, Repository::Access::readOnly);
    }
    Repository::Unlocked unlock(std::string_view passphrase) {
        return Repository::unlock(memory, passphrase, testDevice(), "1.0", std::nullopt, Repository::Access::readOnly);
    }
    template <class Secret>
    void expectKeyError(const Secret& secret, KeyFile::Error::Kind kind) {
        try {
            unlock(secret);
            FAIL() << "unlocked";
        } catch (const KeyFile::Error& e) {
            EXPECT_EQ(e.kind, kind) << e.what();
        }
    }
};

TEST_F(RepositoryUnlock, RecoveryKeyAddedToARepositoryUnlocksIt) {
    auto repository = create();
    const auto id = commitFile(*repository, {randomBytes(500, 1)});
    const RecoveryKey key = repository->addRecoveryKey("in the drawer");
    const auto unlocked = unlock(RecoveryKey::parse(key.text()));
    EXPECT_EQ(unlocked.keys.master, keys.master);
    EXPECT_EQ(unlocked.verdict, HeadVerdict::advanced(0, 1));
    EXPECT_EQ(readWhole(*unlocked.repository, id), 500u);
    const auto files = repository->keyFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].hint, "in the drawer");
    EXPECT_EQ(files[0].method, KeyFile::Method::recoveryKey);
}

TEST_F(RepositoryUnlock, WrongSecretsAndMissingKeysAreWrongKey) {
    create();
    expectKeyError(RecoveryKey::generate(), KeyFile::Error::Kind::wrongKey);  // no key file at all
    expectKeyError(std::string_view("a passphrase"), KeyFile::Error::Kind::wrongKey);
    put(passphraseFile("the right passphrase"));
    expectKeyError(std::string_view("the wrong passphrase"), KeyFile::Error::Kind::wrongKey);
    expectKeyError(std::string_view("short"), KeyFile::Error::Kind::wrongKey);  // refused by the derivation
    expectKeyError(RecoveryKey::generate(), KeyFile::Error::Kind::wrongKey);    // no recovery-key file
    EXPECT_NO_THROW(unlock(std::string_view("the right passphrase")));
}

TEST_F(RepositoryUnlock, DeviceKeyFilesAreNeverTried) {
    auto repository = create();
    const RecoveryKey key = repository->addRecoveryKey(std::nullopt);
    for (const auto& path : filesUnder(*memory, "keys")) {
        KeyFile file = KeyFile::decode(memory->files().at(path));
        file.method = KeyFile::Method::deviceKey;
        memory->put(*RepoPath::parse(path), file.encoded());
    }
    expectKeyError(key, KeyFile::Error::Kind::wrongKey);
    expectKeyError(std::string_view("any passphrase at all"), KeyFile::Error::Kind::wrongKey);
}

TEST_F(RepositoryUnlock, FirstPassphraseFileThatOpensWins) {
    create();
    put(passphraseFile("someone else's passphrase"));
    put(passphraseFile("my own passphrase"));
    const auto unlocked = unlock(std::string_view("my own passphrase"));
    EXPECT_EQ(unlocked.keys.master, keys.master);
}

TEST_F(RepositoryUnlock, DamagedOrUnreadableKeyFilesBeforeAGoodOneDoNotStopTheUnlock) {
    auto repository = create();
    const RecoveryKey key = repository->addRecoveryKey(std::nullopt);
    memory->put(*RepoPath::parse("keys/00000000000000000000000000000000.key"), "{ not json");
    memory->put(*RepoPath::parse("keys/readme.txt"), "ignored");
    KeyFile damaged = KeyFile::wrap(keys.master, key, keys.repositoryID, std::nullopt, fixedNow());
    damaged.wrapped[5] ^= 1;  // decodes, but no key opens it
    put(damaged);
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->failCalls("keys/0000*", DestinationError::ioFailed(RepoPath(), "bad sector"), {FaultyDestination::Operation::read});
    const auto unlocked = Repository::unlock(faulty, key, testDevice(), "1.0", std::nullopt, Repository::Access::readOnly);
    EXPECT_EQ(unlocked.repository->counter(), 0u);
    // keyFiles() lists what decodes and ignores names that are not key files.
    EXPECT_EQ(repository->keyFiles().size(), 2u);
}

TEST_F(RepositoryUnlock, NoPassphraseSetComesBeforeAnyKeyFileIsRead) {
    create(false);
    auto faulty = std::make_shared<FaultyDestination>(memory);
    faulty->failCalls("keys*", DestinationError::permissionDenied(RepoPath()));
    try {
        Repository::unlock(faulty, std::string_view("whatever it is"), testDevice(), "1.0", std::nullopt,
                           Repository::Access::readOnly);
        FAIL();
    } catch (const Repository::Error& e) {
        EXPECT_EQ(e, Repository::Error::noPassphraseSet());
    }
}

TEST_F(RepositoryUnlock, ConfigErrorsAndOpenErrorsPassThrough) {
    EXPECT_THROW(unlock(RecoveryKey::generate()), DestinationError);  // nothing there
    memory->put(RepositoryLayout::configFile(), "{}");
    try {
        unlock(RecoveryKey::generate());
        FAIL();
    } catch (const RepositoryConfig::Error& e) {
        EXPECT_EQ(e.kind, RepositoryConfig::Error::Kind::notARepository);
    }
    memory->remove(RepositoryLayout::configFile());
    auto repository = create();
    const RecoveryKey key = repository->addRecoveryKey(std::nullopt);
    memory->remove(RepositoryLayout::head());
    try {
        unlock(key);
        FAIL();
    } catch (const Repository::Error& e) {
        EXPECT_EQ(e, Repository::Error::headMissing());
    }
}

TEST_F(RepositoryUnlock, RemovingTheLastPortableKeyIsRefused) {
    auto repository = create();
    repository->addRecoveryKey(std::nullopt);
    const KeyFile passphrase = passphraseFile("a good passphrase");
    repository->addKeyFile(passphrase);
    auto files = repository->keyFiles();
    ASSERT_EQ(files.size(), 2u);
    const KeyFile recovery = files[0].method == KeyFile::Method::recoveryKey ? files[0] : files[1];
    repository->removeKeyFile(recovery);
    ASSERT_EQ(repository->keyFiles().size(), 1u);
    try {
        repository->removeKeyFile(passphrase);
        FAIL();
    } catch (const KeyFile::Error& e) {
        EXPECT_EQ(e.kind, KeyFile::Error::Kind::wouldRemoveLastPortableKey);
    }
    EXPECT_EQ(repository->keyFiles().size(), 1u);
}

TEST_F(RepositoryUnlock, KeyFileWhoseIdentifierCannotBeAFileNameIsRefused) {
    auto repository = create();
    KeyFile file = passphraseFile("a good passphrase");
    file.keyID = "../escape";
    EXPECT_THROW(repository->addKeyFile(file), RepositoryLayout::Error);
    EXPECT_TRUE(filesUnder(*memory, "keys").empty());
}

// The passphrase is derived once per unlock, however many passphrase key files there are:
// eight files that the passphrase does not open, then the one it opens, take about as long
// as a single derivation (not nine).
TEST_F(RepositoryUnlock, PassphraseIsDerivedOncePerUnlock) {
    constexpr std::uint32_t slow = 150000;
    settings.iterations = slow;
    create();
    for (int i = 0; i < 8; ++i) put(passphraseFile("another passphrase " + std::to_string(i), slow));
    put(passphraseFile("the passphrase", slow));

    using Clock = std::chrono::steady_clock;
    auto t0 = Clock::now();
    (void)Passphrase::deriveKey("the passphrase", settings.salt, slow);
    const auto single = Clock::now() - t0;
    t0 = Clock::now();
    const auto unlocked = unlock(std::string_view("the passphrase"));
    const auto whole = Clock::now() - t0;
    EXPECT_EQ(unlocked.keys.master, keys.master);
    EXPECT_LT(whole, single * 4) << "unlock took " << std::chrono::duration<double>(whole).count() << " s, one derivation "
                                 << std::chrono::duration<double>(single).count() << " s";
}

}  // namespace
}  // namespace wm::test

// wm-test-backup: makes backups for tests, the demonstration and benchmarks.
//
//   wm-test-backup <folder> <repository> [--passphrase-file F] [--recovery-key-file F]
//                  [--format-version 1|2] [--iterations N]
//
// With no repository at <repository>, one is created (format 2 unless --format-version says
// 1): always with a recovery key, whose text is written to the --recovery-key-file path
// (required then), and with a passphrase when --passphrase-file is given (its key
// derivation uses --iterations iterations). An existing repository is unlocked for writing
// with the passphrase file or, without one, with the recovery key read from
// --recovery-key-file. Then one snapshot of <folder> is committed.
//
// Secret files are read as the headless restore reads its secret file: UTF-8 text, with
// white space and line breaks around it ignored.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "SnapshotBuilder.h"
#include "ToolHost.h"
#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/AppVersion.h"
#include "core/Hex.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"
#include "crypto/Passphrase.h"
#include "crypto/RecoveryKey.h"
#include "crypto/SecureRandom.h"
#include "crypto/SymmetricKey.h"
#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "storage/LocalFolderDestination.h"

namespace {

using namespace wm;
using tools::deviceName;
using tools::readSecret;
using tools::thisDevice;
using tools::ToolRefusal;
using tools::UsageError;

struct Options {
    std::string folder;
    std::string repository;
    std::optional<std::string> passphraseFile;
    std::optional<std::string> recoveryKeyFile;
    std::int64_t formatVersion = 2;
    std::uint32_t iterations = Passphrase::defaultIterations;
};

const char* const kUsage =
    "usage: wm-test-backup <folder> <repository> [--passphrase-file F] [--recovery-key-file F]\n"
    "                      [--format-version 1|2] [--iterations N]\n";

Options parse(const tools::ToolArguments& arguments) {
    Options options;
    if (arguments.operands().size() != 2) throw UsageError("a folder and a repository are needed");
    options.folder = arguments.operands()[0];
    options.repository = arguments.operands()[1];
    if (options.folder.empty() || options.repository.empty()) throw UsageError("a folder cannot be an empty name");
    options.passphraseFile = arguments.value("--passphrase-file");
    options.recoveryKeyFile = arguments.value("--recovery-key-file");
    options.formatVersion = arguments.number("--format-version", 1, 2).value_or(2);
    options.iterations = static_cast<std::uint32_t>(
        arguments.number("--iterations", 1, Passphrase::maximumIterations).value_or(Passphrase::defaultIterations));
    return options;
}

void writeSecret(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        throw ToolRefusal("The recovery key could not be written to \"" + path + "\": " + std::strerror(errno) + ".");
    const std::string line = text + "\n";
    const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) throw ToolRefusal("The recovery key could not be written to \"" + path + "\".");
}

std::shared_ptr<Repository> createRepository(const std::shared_ptr<Destination>& destination, const Options& options,
                                             const DeviceID& device) {
    if (!options.recoveryKeyFile) throw UsageError("creating a repository needs --recovery-key-file");
    std::optional<std::string> passphrase;
    if (options.passphraseFile) passphrase = readSecret(*options.passphraseFile);

    const SymmetricKey master = SymmetricKey::random();
    RepositoryID repositoryID;
    SecureRandom::fill(repositoryID.bytes);
    const RepositoryKeys keys(master, repositoryID);

    std::optional<RepositoryConfig::KDF> kdf;
    std::optional<Passphrase::Settings> settings;
    if (passphrase) {
        settings = Passphrase::makeSettings(options.iterations);
        kdf = RepositoryConfig::KDF{settings->algorithm, settings->salt, settings->iterations};
    }
    auto repository =
        Repository::create(destination, keys, device, std::string(appVersion), kdf, options.formatVersion, Date::now());
    try {
        // The text is kept before the key file that needs it exists.
        const RecoveryKey recoveryKey = RecoveryKey::generate();
        writeSecret(*options.recoveryKeyFile, recoveryKey.text());
        const Date now = Date::now();
        repository->keyFiles().add(KeyFile::wrap(master, recoveryKey, repositoryID, std::nullopt, now));
        if (passphrase) {
            repository->keyFiles().add(
                KeyFile::wrap(master, *passphrase, settings->salt, settings->iterations, std::nullopt, now));
        }
    } catch (...) {
        // A repository that no secret opens is of no use: take it back so that the next
        // run creates it afresh.
        try {
            destination->remove(RepositoryLayout::configFile());
        } catch (const std::exception&) {
        }
        throw;
    }
    std::cout << "created repository " << options.repository << " (format " << options.formatVersion << ")\n";
    return repository;
}

std::shared_ptr<Repository> unlockRepository(const std::shared_ptr<Destination>& destination, const Options& options,
                                             const DeviceID& device) {
    if (options.passphraseFile) {
        return Repository::unlock(destination, readSecret(*options.passphraseFile), device, std::string(appVersion),
                                  std::nullopt, Repository::Access::readWrite)
            .repository;
    }
    if (options.recoveryKeyFile) {
        return Repository::unlock(destination, RecoveryKey::parse(readSecret(*options.recoveryKeyFile)), device,
                                  std::string(appVersion), std::nullopt, Repository::Access::readWrite)
            .repository;
    }
    throw UsageError("opening a repository needs --passphrase-file or --recovery-key-file");
}

int run(const Options& options) {
    std::error_code error;
    if (!std::filesystem::is_directory(options.folder, error))
        throw ToolRefusal("\"" + options.folder + "\" is not a folder that can be backed up.");
    // Look before touching anything on disk.
    const bool exists =
        tools::localFolder(options.repository, DestinationID::random(), false)->exists(RepositoryLayout::configFile());
    if (!exists && !options.recoveryKeyFile) throw UsageError("creating a repository needs --recovery-key-file");
    if (exists && !options.passphraseFile && !options.recoveryKeyFile)
        throw UsageError("opening a repository needs --passphrase-file or --recovery-key-file");

    // A passphrase the key derivation refuses is refused before anything is written.
    if (!exists && options.passphraseFile)
        Passphrase::deriveKey(readSecret(*options.passphraseFile), Bytes(Passphrase::saltSize), 1);

    const std::shared_ptr<Destination> destination =
        tools::localFolder(options.repository, DestinationID::random(), true);
    const DeviceID device = thisDevice();
    const auto repository =
        exists ? unlockRepository(destination, options, device) : createRepository(destination, options, device);

    SnapshotBuilder builder(*repository, options.folder);
    const SnapshotBuilder::Result result = builder.run(deviceName());
    for (const auto& p : result.problems) std::cerr << "wm-test-backup: " << p << "\n";
    const SnapshotStats& s = result.stats;
    std::cout << "snapshot " << result.id.value.uuidString() << "\n"
              << Phrasing::count(s.files, "file") << ", " << Phrasing::count(s.directories, "folder") << ", "
              << tools::byteCount(s.bytesLogical) << " (" << tools::byteCount(s.bytesNew) << " new, "
              << tools::byteCount(s.bytesDeduplicated) << " deduplicated), " << s.unreadableFiles << " unreadable, "
              << s.unstableFiles << " unstable\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const tools::ToolDescription tool{"wm-test-backup",
                                      kUsage,
                                      {{"--passphrase-file", true},
                                       {"--recovery-key-file", true},
                                       {"--format-version", true},
                                       {"--iterations", true}}};
    return tools::runTool(tool, argc, argv,
                          [](const tools::ToolArguments& arguments) { return run(parse(arguments)); });
}

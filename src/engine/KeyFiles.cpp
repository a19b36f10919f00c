#include "engine/KeyFiles.h"

#include <exception>

#include "core/Date.h"
#include "engine/Repository.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"

namespace wm {

namespace {

bool isKeyFilePath(const RepoPath& path) {
    return !path.isRoot() && path.fileName().ends_with(RepositoryLayout::keyEnding);
}

}  // namespace

KeyFiles::KeyFiles(std::shared_ptr<Destination> destination, std::shared_ptr<const RepositoryKeys> keys)
    : destination_(std::move(destination)), keys_(std::move(keys)) {}

RecoveryKey KeyFiles::addRecoveryKey(std::optional<std::string> hint) {
    std::lock_guard lock(mutex_);
    RecoveryKey recoveryKey = RecoveryKey::generate();
    const KeyFile file = KeyFile::wrap(keys_->master, recoveryKey, keys_->repositoryID, std::move(hint),
                                       Date::now().repositoryPrecision());
    Repository::write(file.encoded(), RepositoryLayout::key(file.keyID), *destination_);
    return recoveryKey;
}

void KeyFiles::add(const KeyFile& keyFile) {
    std::lock_guard lock(mutex_);
    Repository::write(keyFile.encoded(), RepositoryLayout::key(keyFile.keyID), *destination_);
}

std::vector<KeyFile> KeyFiles::all() const {
    std::vector<KeyFile> files;
    for (auto& [path, file] : listed(*destination_)) files.push_back(std::move(file));
    return files;
}

std::vector<std::pair<RepoPath, KeyFile>> KeyFiles::listed(Destination& destination) {
    std::vector<std::pair<RepoPath, KeyFile>> files;
    for (const RepoPath& path : destination.list(RepositoryLayout::keysDirectory())) {
        if (!isKeyFilePath(path)) continue;
        // A read error ends the listing; a file larger than any key file is damaged.
        const std::optional<Bytes> bytes = destination.readAtMost(path, RepositoryFormat::keyFileMaximumBytes);
        if (!bytes) continue;
        try {
            files.emplace_back(path, KeyFile::decode(*bytes));
        } catch (const KeyFile::Error&) {
        }
    }
    return files;
}

void KeyFiles::remove(const KeyFile& keyFile) {
    std::lock_guard lock(mutex_);
    if (!KeyFileSet::canRemove(keyFile, all())) throw KeyFile::Error::wouldRemoveLastPortableKey();
    destination_->remove(RepositoryLayout::key(keyFile.keyID));
}

std::optional<KeyFiles::Opening> KeyFiles::firstThatOpens(Destination& destination, KeyFile::Method method,
                                                          const std::function<SymmetricKey(const KeyFile&)>& open) {
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
            SymmetricKey master = open(*file);
            return Opening{std::move(master), std::move(*file)};
        } catch (const std::exception&) {
            continue;  // wrong key or damaged file: try the next one
        }
    }
    if (!anyRead && firstReadError) std::rethrow_exception(firstReadError);
    return std::nullopt;
}

}  // namespace wm

#pragma once
// The key files of a repository, under "keys": each wraps the master key with a recovery
// key or with a key derived from a passphrase. Adding and removing are serialised among
// themselves; listing may run from any thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crypto/KeyFile.h"
#include "crypto/RecoveryKey.h"
#include "crypto/RepositoryKeys.h"
#include "storage/Destination.h"

namespace wm {

class KeyFiles {
public:
    KeyFiles(std::shared_ptr<Destination> destination, std::shared_ptr<const RepositoryKeys> keys);

    // A new recovery key, wrapped into a new key file. Its text is what the user writes down.
    RecoveryKey addRecoveryKey(std::optional<std::string> hint);
    // A key identifier that cannot be a file name is refused (RepositoryLayout::Error).
    void add(const KeyFile& keyFile);
    // Every key file under "keys" that decodes, in listing order. A read error is thrown.
    std::vector<KeyFile> all() const;
    // The same with the path of each.
    static std::vector<std::pair<RepoPath, KeyFile>> listed(Destination& destination);
    // Removes a key file unless it is the last one that works on any computer
    // (KeyFile::Error::wouldRemoveLastPortableKey, nothing removed).
    void remove(const KeyFile& keyFile);

    // The master key from the first key file of the method that `open` opens, trying them
    // in listing order. Files that cannot be read or decoded, and those `open` throws for,
    // are passed over; nothing when none opens, except that when not one file could be read
    // the first read error is thrown: a failing drive is not a wrong secret.
    struct Opening {
        SymmetricKey master;
        KeyFile keyFile;  // the file that gave it
    };
    static std::optional<Opening> firstThatOpens(Destination& destination, KeyFile::Method method,
                                                 const std::function<SymmetricKey(const KeyFile&)>& open);

private:
    const std::shared_ptr<Destination> destination_;
    const std::shared_ptr<const RepositoryKeys> keys_;
    std::mutex mutex_;
};

}  // namespace wm

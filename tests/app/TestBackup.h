#pragma once
// Builds small real backups in a folder, through the repository engine: a passphrase (or
// none) and a recovery key, and snapshots made from a list of files.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Date.h"
#include "core/Identifiers.h"

namespace wm {
class Repository;
}

namespace wm::testing {

struct TestFile {
    std::string path;  // relative, "/"-separated; folders on the way are made
    std::string contents;
};

class TestBackup {
public:
    // Kept low so the tests stay fast; the engine accepts any count from 1.
    static constexpr std::uint32_t iterations = 1000;

    // A new repository in folder; with a passphrase when one is given.
    static TestBackup create(const std::filesystem::path& folder, std::optional<std::string> passphrase);

    // Commits one snapshot of files, from the given source folders, made at createdAt.
    SnapshotID commit(const std::vector<TestFile>& files, Date createdAt,
                      const std::vector<std::string>& sources = {"/home/you/Documents"});

    const std::filesystem::path& folder() const { return folder_; }
    // "XXXXX-XXXXX-...", the recovery key's text.
    const std::string& recoveryKey() const { return recoveryKey_; }
    std::shared_ptr<Repository> repository() const { return repository_; }

private:
    std::filesystem::path folder_;
    std::string recoveryKey_;
    std::shared_ptr<Repository> repository_;
};

}  // namespace wm::testing

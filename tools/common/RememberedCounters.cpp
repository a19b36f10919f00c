#include "RememberedCounters.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/DurableReplace.h"
#include "core/Hex.h"
#include "core/Phrasing.h"
#include "core/RegularFile.h"
#include "core/RepositoryJSON.h"
#include "core/Unicode.h"
#include "engine/Repository.h"
#include "format/RepositoryConfig.h"
#include "storage/FolderLock.h"

namespace wm::tools {

namespace {

// Far more than the file of anyone's repositories takes (about 90 bytes each).
constexpr std::size_t maximumFileBytes = 1 << 20;

std::string unreadable(const std::filesystem::path& file) {
    return "The file " + inQuotes(file.string()) +
           ", where this computer remembers how far each backup has come, cannot be read. Delete it to start "
           "afresh; until the tools have seen each backup once more, one put back to an older state goes unnoticed.";
}

// The remembered counters; an empty object when the file is not there. Read as the lock and
// the secret files are: a named pipe, a device, a folder or a link in its place is refused
// at once, never waited on while the tool holds a repository's lock and the state folder's.
JSON load(const std::filesystem::path& file) {
    const RegularFile::Contents read = RegularFile::read(file.string(), maximumFileBytes, RegularFile::Links::refused);
    if (read.failure == RegularFile::Failure::missing && read.errorNumber == ENOENT) return JSON::object();
    if (read.failure) throw ToolRefusal(unreadable(file));
    try {
        JSON json = RepositoryJSON::decode(viewOf(read.bytes));
        if (!json.is_object()) throw ToolRefusal(unreadable(file));
        for (const auto& [key, value] : json.items())
            if (!value.is_number_unsigned()) throw ToolRefusal(unreadable(file));
        return json;
    } catch (const RepositoryJSON::DecodingError&) {
        throw ToolRefusal(unreadable(file));
    }
}

// The home folder the password database gives this user; nothing when it gives none.
std::optional<std::filesystem::path> passwordDatabaseHome() {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_dir || found->pw_dir[0] != '/') return std::nullopt;
    return std::filesystem::path(found->pw_dir);
}

// The line of a repository in a folder: its ID, then the folder as the file system resolves
// it, so that two names of one folder share a line (a name that is not UTF-8, which the file
// cannot hold, in hexadecimal).
std::string lineKey(const RepositoryID& repository, const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::path where = std::filesystem::absolute(folder, error);
    if (error) where = folder;
    if (std::filesystem::path resolved = std::filesystem::weakly_canonical(where, error); !error) where = resolved;
    where = where.lexically_normal();
    if (where.filename().empty() && where.has_relative_path()) where = where.parent_path();
    const std::string text = where.string();
    return repository.hex() + " " + (Unicode::isValidUTF8(viewOf(text)) ? text : Hex::encode(viewOf(text)));
}

}  // namespace

std::optional<std::filesystem::path> RememberedCounters::defaultFile() {
    std::optional<std::filesystem::path> state;
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    // The base directory specification ignores a relative XDG_STATE_HOME; a relative HOME
    // would name a different folder in every working folder.
    if (xdg && xdg[0] == '/')
        state = xdg;
    else if (home && home[0] == '/')
        state = std::filesystem::path(home) / ".local" / "state";
    else if (const auto databaseHome = passwordDatabaseHome())
        state = *databaseHome / ".local" / "state";
    else
        return std::nullopt;
    return *state / "wendlemarsh" / "head-counters.json";
}

RememberedCounters::RememberedCounters() {
    const std::optional<std::filesystem::path> file = defaultFile();
    if (!file)
        throw ToolRefusal(
            "This computer has no folder in which to remember how far each backup has come: neither "
            "XDG_STATE_HOME nor HOME is set, and this user has no home folder. Without it a backup put back to an "
            "older state goes unnoticed, so nothing was changed. Set HOME to your home folder and run this again.");
    file_ = *file;
}

RememberedCounters::RememberedCounters(std::filesystem::path file) : file_(std::move(file)) {}

std::optional<std::uint64_t> RememberedCounters::counter(const RepositoryID& repository,
                                                         const std::filesystem::path& folder) const {
    const JSON counters = load(file_);
    const auto it = counters.find(lineKey(repository, folder));
    if (it == counters.end()) return std::nullopt;
    return it->get<std::uint64_t>();
}

std::optional<std::uint64_t> RememberedCounters::counter(Destination& repository,
                                                         const std::filesystem::path& folder) const {
    const RepositoryConfig config = RepositoryConfig::decode(readConfigFile(repository));
    return counter(*RepositoryID::fromBytes(config.repositoryID), folder);
}

void RememberedCounters::remember(const RepositoryID& repository, const std::filesystem::path& folder,
                                  std::uint64_t counter) const {
    const std::filesystem::path stateFolder = file_.parent_path();
    std::error_code error;
    std::filesystem::create_directories(stateFolder, error);
    // Held until the new file is in place: another tool's read-compare-replace waits.
    const FolderLock lock = [&] {
        try {
            return FolderLock::lock(stateFolder, FolderLock::Mode::exclusive);
        } catch (const std::exception&) {
            throw ToolRefusal("The folder " + inQuotes(stateFolder.string()) +
                              ", where this computer remembers how far each backup has come, cannot be made or "
                              "opened. Check that it is a folder you can write to.");
        }
    }();
    JSON counters = load(file_);
    const std::string key = lineKey(repository, folder);
    if (!counters.contains(key) || counters[key].get<std::uint64_t>() < counter) counters[key] = counter;
    // Written even when nothing changed: whether the file can be written is known before
    // anything depends on it.
    try {
        replaceFileDurably(file_, RepositoryJSON::encodeBytes(counters, true));
    } catch (const std::system_error& e) {
        throw ToolRefusal("How far the backup has come could not be written to " + inQuotes(file_.string()) + " (" +
                          e.code().message() + "). Check that it is a folder you can write to.");
    }
}

void RememberedCounters::refuseRollback(const HeadVerdict& verdict, const std::string& path) const {
    if (!verdict.isSuspicious()) return;
    throw ToolRefusal("The backup at " + inQuotes(path) +
                      " is older than when this computer last saw it: its list of snapshots has been rewritten " +
                      Phrasing::count(verdict.seen, "time") + ", where this computer has seen it rewritten " +
                      Phrasing::count(verdict.remembered, "time") +
                      ". It may have been put back to an older copy, and writing to it now could lose backups, so "
                      "nothing was changed. If you put an older copy back on purpose, delete the line naming its "
                      "folder from " +
                      inQuotes(file_.string()) + " and run this again.");
}

}  // namespace wm::tools

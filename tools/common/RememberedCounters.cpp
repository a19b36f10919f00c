#include "RememberedCounters.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/DurableReplace.h"
#include "core/RepositoryJSON.h"
#include "core/SystemCall.h"
#include "engine/Repository.h"
#include "format/RepositoryConfig.h"
#include "storage/FolderLock.h"

namespace wm::tools {

namespace {

// Far more than the file of anyone's repositories takes (about 90 bytes each).
constexpr std::int64_t maximumFileBytes = 1 << 20;

std::string unreadable(const std::filesystem::path& file) {
    return "The file " + inQuotes(file.string()) +
           ", where this computer remembers how far each backup has come, cannot be read. Delete it to start "
           "afresh; until the tools have seen each backup once more, one put back to an older state goes unnoticed.";
}

// The remembered counters; an empty object when the file is not there.
JSON load(const std::filesystem::path& file) {
    UniqueFd fd(retryingOnInterrupt([&] { return ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); }));
    if (fd.get() < 0) {
        if (errno == ENOENT) return JSON::object();
        throw ToolRefusal(unreadable(file));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maximumFileBytes)
        throw ToolRefusal(unreadable(file));
    Bytes bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            retryingOnInterrupt([&] { return ::read(fd.get(), bytes.data() + done, bytes.size() - done); });
        if (n <= 0) throw ToolRefusal(unreadable(file));
        done += static_cast<std::size_t>(n);
    }
    try {
        JSON json = RepositoryJSON::decode(bytes);
        if (!json.is_object()) throw ToolRefusal(unreadable(file));
        for (const auto& [key, value] : json.items())
            if (!value.is_number_unsigned()) throw ToolRefusal(unreadable(file));
        return json;
    } catch (const RepositoryJSON::DecodingError&) {
        throw ToolRefusal(unreadable(file));
    }
}

}  // namespace

std::optional<std::filesystem::path> RememberedCounters::defaultFile() {
    std::filesystem::path state;
    const char* xdg = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    // The base directory specification ignores a relative XDG_STATE_HOME.
    if (xdg && xdg[0] == '/')
        state = xdg;
    else if (home && home[0] != '\0')
        state = std::filesystem::path(home) / ".local" / "state";
    else
        return std::nullopt;
    return state / "wendlemarsh" / "head-counters.json";
}

RememberedCounters::RememberedCounters(std::optional<std::filesystem::path> file) : file_(std::move(file)) {}

std::optional<std::uint64_t> RememberedCounters::counter(const RepositoryID& repository) const {
    if (!file_) return std::nullopt;
    const JSON counters = load(*file_);
    const auto it = counters.find(repository.hex());
    if (it == counters.end()) return std::nullopt;
    return it->get<std::uint64_t>();
}

std::optional<std::uint64_t> RememberedCounters::counter(Destination& repositoryFolder) const {
    const RepositoryConfig config = RepositoryConfig::decode(readConfigFile(repositoryFolder));
    return counter(*RepositoryID::fromBytes(config.repositoryID));
}

void RememberedCounters::remember(const RepositoryID& repository, std::uint64_t counter) const {
    if (!file_) return;
    const std::filesystem::path folder = file_->parent_path();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    // Held until the new file is in place: another tool's read-compare-replace waits.
    const FolderLock lock = [&] {
        try {
            return FolderLock::lock(folder, FolderLock::Mode::exclusive);
        } catch (const std::exception&) {
            throw ToolRefusal("The folder " + inQuotes(folder.string()) +
                              ", where this computer remembers how far each backup has come, cannot be made or "
                              "opened. Check that it is a folder you can write to.");
        }
    }();
    JSON counters = load(*file_);
    const std::string key = repository.hex();
    if (counters.contains(key) && counters[key].get<std::uint64_t>() >= counter) return;
    counters[key] = counter;
    try {
        replaceFileDurably(*file_, RepositoryJSON::encodeBytes(counters, true));
    } catch (const std::system_error& e) {
        throw ToolRefusal("How far the backup has come could not be written to " + inQuotes(file_->string()) + " (" +
                          e.code().message() + "). Check that it is a folder you can write to.");
    }
}

void RememberedCounters::refuseRollback(const HeadVerdict& verdict, const std::string& path) const {
    if (!verdict.isSuspicious()) return;
    throw ToolRefusal("The backup at " + inQuotes(path) +
                      " is older than when this computer last saw it: its list of "
                      "snapshots has been rewritten " +
                      std::to_string(verdict.seen) +
                      " times, and this computer "
                      "has seen " +
                      std::to_string(verdict.remembered) +
                      ". It may have been put back to an older "
                      "copy, and writing to it now could lose backups, so nothing was changed. If you put an older "
                      "copy back on purpose, delete the line of this backup from " +
                      inQuotes(file_ ? file_->string() : std::string()) + " and run this again.");
}

}  // namespace wm::tools

#pragma once
// The folders offered to someone setting up their first backup: a short name, the folders
// each entry stands for, why it is worth having, and whether it starts switched on.
#include <optional>
#include <string>
#include <vector>

#include "policy/FileManager.h"
#include "policy/PhoneBackups.h"

namespace wm::FirstRunSuggestions {

struct Suggestion {
    std::string name;
    // Relative to the home folder, or to "/" when fromRoot is set; meant to hold at least
    // one path, and an entry made with none reads as empty text rather than failing.
    std::vector<std::string> relativePaths;
    std::string why;
    bool onByDefault = false;
    bool fromRoot = false;

    Suggestion(std::string name, std::vector<std::string> relativePaths, std::string why, bool onByDefault,
               bool fromRoot);
    Suggestion(std::string name, std::string relativePath, std::string why, bool onByDefault, bool fromRoot);

    // The first relative path ("" when there is none); also the entry's identity.
    std::string relativePath() const;
    std::string id() const { return relativePath(); }
    // The person's own folders, as opposed to app or system data.
    bool isEveryday() const;
    // The absolute path of the first relative path, worked out as text without the disk.
    std::string path() const;
    // The absolute paths of the relative paths that exist, in list order.
    std::vector<std::string> paths(const FileManager& fileManager = FileManager::defaultManager()) const;

    friend bool operator==(const Suggestion&, const Suggestion&) = default;
};

// The fixed list, made once in the locale of its first use.
const std::vector<Suggestion>& all();
// The entries of all() that start switched on, in order.
std::vector<Suggestion> defaults();
const std::string& explanation();
// The phone-backup entry when some were found; absent otherwise.
std::optional<Suggestion> phoneBackups(const PhoneBackups::State& state);

}  // namespace wm::FirstRunSuggestions

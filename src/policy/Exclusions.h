#pragma once
// What a backup run leaves out, why, and the wording that explains it: names left out
// wherever they occur, paths under the home folder, the user's own folders, patterns and
// size limit, and the system folders of a whole-computer backup.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/RepositoryJSON.h"

namespace wm {

struct Exclusions {
    // The user's own rules.
    struct Chosen {
        std::set<std::string> folders;           // absolute, left out with everything beneath
        std::vector<std::string> patterns;       // file-name patterns, in the order added
        std::optional<std::int64_t> largerThan;  // bytes; bigger files are left out

        bool isEmpty() const { return folders.empty() && patterns.empty() && !largerThan; }
        JSON toJSON() const;
        static Chosen fromJSON(const JSON& json);  // throws RepositoryJSON::DecodingError
        friend bool operator==(const Chosen&, const Chosen&) = default;
    };

    struct Reason {
        enum class Kind : std::uint8_t { knownCache, chosen, tooLarge };
        Kind kind = Kind::knownCache;
        std::string name;
        std::int64_t limit = 0;  // tooLarge only

        static Reason knownCache(std::string name) { return {Kind::knownCache, std::move(name), 0}; }
        static Reason chosen(std::string name) { return {Kind::chosen, std::move(name), 0}; }
        static Reason tooLarge(std::string name, std::int64_t limit) {
            return {Kind::tooLarge, std::move(name), limit};
        }

        std::string sentence() const;
        friend bool operator==(const Reason&, const Reason&) = default;
    };

    std::set<std::string> names;          // compared with an entry's last component
    std::set<std::string> anchoredPaths;  // relative to the home folder
    Chosen chosen;
    std::set<std::string> systemFolders;  // absolute

    static const std::set<std::string>& defaultNames();
    static const std::set<std::string>& defaultAnchoredPaths();

    // Whether the entry at `components` under the backup root is left out by a name,
    // pattern, folder or home-folder rule (never the size limit). The first rule that
    // matches decides, in that order.
    std::optional<Reason> excludes(const std::vector<std::string>& components, std::string_view root,
                                   std::string_view home) const;
    // The size limit alone: a file bigger than it is left out.
    std::optional<Reason> excludes(std::string_view file, std::int64_t size) const;
    // One line per rule, sorted.
    std::vector<std::string> describedRules() const;

    // fnmatch with FNM_PATHNAME | FNM_CASEFOLD: "*" never matches a "/", case is ignored,
    // and a leading dot needs no dot in the pattern.
    static bool nameMatches(std::string_view name, std::string_view pattern);
    // root + "/" + path, folded from the data volume onto the root volume.
    static std::string absolute(std::string_view path, std::string_view root);
    // The first sentence, then how many other files were left out too; absent when
    // there is nothing to say.
    static std::optional<std::string> leftOutSentence(const std::vector<std::string>& sentences, std::int64_t total);

    JSON toJSON() const;
    static Exclusions fromJSON(const JSON& json);  // throws RepositoryJSON::DecodingError
    friend bool operator==(const Exclusions&, const Exclusions&) = default;
};

namespace LeftOutPatternRules {
// Why a pattern the user typed cannot be used; absent when it is accepted.
std::optional<std::string> refusal(std::string_view pattern);
}  // namespace LeftOutPatternRules

}  // namespace wm

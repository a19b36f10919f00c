#include "engine/DeletedFileSearch.h"

#include <algorithm>
#include <unordered_map>

#include "core/Unicode.h"

namespace wm {

std::string joinedPath(const std::vector<std::string>& path) {
    std::string joined;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i > 0) joined += '/';
        joined += path[i];
    }
    return joined;
}

std::string DeletedFileSearch::Match::id() const { return joinedPath(path); }

std::string DeletedFileSearch::Match::name() const { return path.empty() ? std::string() : path.back(); }

std::optional<SnapshotID> DeletedFileSearch::Match::lastSeenIn() const {
    if (presentIn.empty()) return std::nullopt;
    return presentIn.back();
}

bool operator==(const DeletedFileSearch::Match& a, const DeletedFileSearch::Match& b) {
    if (a.size != b.size || a.isGone != b.isGone || a.presentIn != b.presentIn) return false;
    if (a.path.size() != b.path.size()) return false;
    for (std::size_t i = 0; i < a.path.size(); ++i) {
        if (!Unicode::canonicallyEqual(a.path[i], b.path[i])) return false;
    }
    return true;
}

namespace {

bool isASCII(std::string_view text) {
    for (const unsigned char c : text) {
        if (c >= 0x80) return false;
    }
    return true;
}

char lowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool DeletedFileSearch::matches(const std::string& name, const std::string& query) {
    if (query.empty()) return false;
    // Most names are plain ASCII. For ASCII on both sides, ignoring case and diacritics comes
    // down to ignoring the case of A to Z, which needs no Unicode folding.
    if (isASCII(name) && isASCII(query)) {
        return std::search(name.begin(), name.end(), query.begin(), query.end(),
                           [](char a, char b) { return lowerASCII(a) == lowerASCII(b); }) != name.end();
    }
    return Unicode::containsInsensitive(name, query);
}

std::vector<DeletedFileSearch::Match> DeletedFileSearch::collate(const std::vector<Finding>& findings) {
    if (findings.empty()) return {};

    std::vector<Match> matches;  // in order of first appearance
    std::unordered_map<std::string, std::size_t> byPath;
    for (const Finding& finding : findings) {
        for (const SearchHit& hit : finding.paths) {
            // Paths that are canonically equal (a name stored precomposed in one snapshot and
            // decomposed in another) are one path.
            std::string key = joinedPath(hit.path);
            if (!isASCII(key)) key = Unicode::canonicalName(key);
            auto [it, inserted] = byPath.try_emplace(std::move(key), matches.size());
            if (inserted) {
                matches.push_back(Match{hit.path, hit.size, {finding.snapshot}, false});
            } else {
                Match& match = matches[it->second];
                match.size = hit.size;
                match.presentIn.push_back(finding.snapshot);
            }
        }
    }

    const SnapshotID& newest = findings.back().snapshot;
    struct Keyed {
        Match match;
        std::string name;
        std::string id;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(matches.size());
    for (Match& match : matches) {
        match.isGone = std::find(match.presentIn.begin(), match.presentIn.end(), newest) == match.presentIn.end();
        std::string name = match.name();
        std::string id = match.id();
        keyed.push_back({std::move(match), std::move(name), std::move(id)});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.match.isGone != b.match.isGone) return a.match.isGone;
        const int byName = Unicode::localizedStandardCompare(a.name, b.name);
        if (byName != 0) return byName < 0;
        return Unicode::localizedStandardCompare(a.id, b.id) < 0;
    });

    std::vector<Match> sorted;
    sorted.reserve(keyed.size());
    for (Keyed& k : keyed) sorted.push_back(std::move(k.match));
    return sorted;
}

}  // namespace wm

#include "policy/SnapshotComparison.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"
#include "policy/CanonicalText.h"

namespace wm::SnapshotComparison {
namespace {

const char* rawValue(Change::Kind kind) {
    switch (kind) {
    case Change::Kind::added: return "added";
    case Change::Kind::modified: return "modified";
    case Change::Kind::removed: return "removed";
    }
    return "";
}

std::vector<std::string> components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// The map re-keyed by the composed form of each path, so that canonically equivalent
// paths meet.
template <class V>
std::map<std::string, std::pair<std::string, V>> composed(const std::map<std::string, V>& map) {
    std::map<std::string, std::pair<std::string, V>> result;
    for (const auto& [path, value] : map)
        result.emplace(std::string(CanonicalText(path).view()), std::pair(path, value));
    return result;
}

}  // namespace

std::string Change::id() const {
    std::string joined;
    for (std::size_t i = 0; i < path.size(); ++i) joined += (i ? "/" : "") + path[i];
    return joined + rawValue(kind);
}

std::vector<Change> changes(const std::map<std::string, std::string>& from,
                            const std::map<std::string, std::string>& to,
                            const std::map<std::string, std::uint64_t>& sizes) {
    const auto older = composed(from), newer = composed(to);
    const auto sizeOf = composed(sizes);
    std::vector<Change> list;
    auto record = [&](const std::string& key, const std::string& path, Change::Kind kind) {
        const auto size = sizeOf.find(key);
        list.push_back({components(path), kind, size == sizeOf.end() ? 0 : size->second.second});
    };
    for (const auto& [key, entry] : newer) {
        const auto old = older.find(key);
        if (old == older.end())
            record(key, entry.first, Change::Kind::added);
        else if (!Unicode::canonicallyEqual(old->second.second, entry.second))
            record(key, entry.first, Change::Kind::modified);
    }
    for (const auto& [key, entry] : older)
        if (!newer.count(key)) record(key, entry.first, Change::Kind::removed);
    std::stable_sort(list.begin(), list.end(), [](const Change& a, const Change& b) {
        if (a.kind != b.kind) return a.kind > b.kind;
        return Unicode::localizedStandardCompare(a.name(), b.name()) < 0;
    });
    return list;
}

std::string summary(const std::vector<Change>& changes) {
    if (changes.empty()) return WM_L("Nothing changed between these two backups.");
    auto counted = [&](Change::Kind kind) {
        return std::count_if(changes.begin(), changes.end(), [&](const Change& c) { return c.kind == kind; });
    };
    std::vector<std::string> phrases;
    if (const auto n = counted(Change::Kind::removed))
        phrases.push_back(WM_L("%@ removed", Phrasing::count(n, "file")));
    if (const auto n = counted(Change::Kind::modified))
        phrases.push_back(WM_L("%@ changed", Phrasing::count(n, "file")));
    if (const auto n = counted(Change::Kind::added)) phrases.push_back(WM_L("%@ added", Phrasing::count(n, "file")));
    return Phrasing::list(phrases) + ".";
}

}  // namespace wm::SnapshotComparison

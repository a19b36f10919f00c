#include "restore/RestoreSelection.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "core/Unicode.h"

namespace wm {

namespace {

bool isASCII(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool sameComponent(const std::string& a, const std::string& b) {
    if (a == b) return true;
    // Texts that are both ASCII are canonically equal only when identical.
    if (isASCII(a) && isASCII(b)) return false;
    return Unicode::canonicallyEqual(a, b);
}

bool samePath(RestoreSelection::PathView a, RestoreSelection::PathView b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameComponent);
}

// Whether a chosen component names an entry: it equals the entry's stored name, or, for a name
// that is not valid UTF-8, its repaired spelling (the one the browser shows). Two names that
// repair alike are both named by that spelling; each is named alone by its own bytes.
bool names(const std::string& chosen, const std::string& stored) {
    if (sameComponent(chosen, stored)) return true;
    return !Unicode::isValidUTF8(viewOf(stored)) && sameComponent(chosen, Unicode::decodeUTF8Repairing(stored));
}

// Whether the entry at `stored` is the chosen path or lies inside it.
bool entryLiesInside(RestoreSelection::PathView stored, RestoreSelection::PathView chosen) {
    return stored.size() >= chosen.size() && std::equal(chosen.begin(), chosen.end(), stored.begin(), names);
}

// Whether the chosen path is the entry at `stored` or lies inside it.
bool chosenLiesInside(RestoreSelection::PathView chosen, RestoreSelection::PathView stored) {
    return chosen.size() >= stored.size() &&
           std::equal(stored.begin(), stored.end(), chosen.begin(),
                      [](const std::string& s, const std::string& c) { return names(c, s); });
}

}  // namespace

bool RestoreSelection::liesInside(PathView path, PathView folder) {
    return path.size() >= folder.size() && std::equal(folder.begin(), folder.end(), path.begin(), sameComponent);
}

void RestoreSelection::add(const Path& path) {
    for (const Path& chosen : paths) {
        if (samePath(chosen, path)) return;
        if (chosen.size() < path.size() && liesInside(path, chosen)) return;
    }
    std::erase_if(paths, [&](const Path& chosen) { return liesInside(chosen, path); });
    paths.push_back(path);
}

void RestoreSelection::remove(const Path& path) {
    std::erase_if(paths, [&](const Path& chosen) { return samePath(chosen, path); });
}

bool RestoreSelection::includes(PathView path) const {
    if (paths.empty()) return true;
    return std::any_of(paths.begin(), paths.end(), [&](const Path& chosen) {
        return chosenLiesInside(chosen, path) || entryLiesInside(path, chosen);
    });
}

bool RestoreSelection::wants(PathView path) const {
    if (paths.empty()) return true;
    return std::any_of(paths.begin(), paths.end(), [&](const Path& chosen) { return entryLiesInside(path, chosen); });
}

RestoreSelection::Ticked RestoreSelection::tick(PathView path) const {
    if (wants(path)) return Ticked::yes;
    bool below =
        std::any_of(paths.begin(), paths.end(), [&](const Path& chosen) { return chosenLiesInside(chosen, path); });
    return below ? Ticked::partly : Ticked::no;
}

std::string RestoreSelection::sentence() const {
    if (paths.empty()) return WM_L("Everything in this backup");
    if (paths.size() == 1) {
        if (paths.front().empty()) return WM_L("One item");
        return paths.front().back();
    }
    return Phrasing::grouped(static_cast<std::int64_t>(paths.size())) + " items";
}

bool operator==(const RestoreSelection& a, const RestoreSelection& b) {
    return a.paths.size() == b.paths.size() &&
           std::equal(a.paths.begin(), a.paths.end(), b.paths.begin(),
                      [](const RestoreSelection::Path& x, const RestoreSelection::Path& y) { return samePath(x, y); });
}

}  // namespace wm

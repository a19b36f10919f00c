#pragma once
// Which paths of a snapshot a restore puts back. Each chosen path is a list of
// component names from the snapshot's root; no chosen path means everything.
// Components compare by canonical equivalence, so a precomposed and a decomposed
// accented letter name the same entry.
#include <span>
#include <string>
#include <vector>

namespace wm {

class RestoreSelection {
public:
    using Path = std::vector<std::string>;
    using PathView = std::span<const std::string>;

    enum class Ticked { no, partly, yes };

    // The chosen paths in the order they were added. add() keeps them free of
    // duplicates and of paths that lie inside other chosen paths.
    std::vector<Path> paths;

    RestoreSelection() = default;

    bool isEverything() const { return paths.empty(); }

    // Chooses path, unless it or a folder above it is already chosen; drops the
    // chosen paths that it now covers.
    void add(const Path& path);
    // Drops every chosen path equal to path; paths above or below it stay.
    void remove(const Path& path);

    // The questions about an entry take its path as stored: each name's bytes, which need
    // not be UTF-8. A chosen name that is not the stored one byte for byte (or canonically)
    // still names it when the stored name is not valid UTF-8 and the chosen one is its
    // repaired spelling, as the browser shows it.

    // Whether a restore has to enter path: it is chosen, lies inside a chosen path,
    // or lies on the way to one.
    bool includes(PathView path) const;
    // Whether a restore writes path: it is chosen or lies inside a chosen path.
    bool wants(PathView path) const;
    Ticked tick(PathView path) const;
    // One line saying what will be restored.
    std::string sentence() const;

    // Whether path equals folder or lies inside it.
    static bool liesInside(PathView path, PathView folder);

    friend bool operator==(const RestoreSelection& a, const RestoreSelection& b);
};

}  // namespace wm

#pragma once
// Vets a folder chosen as a restore target before anything is written: not inside
// the backup being read, not inside a folder that is itself backed up, not a system
// location, and writable. A pure function over path texts: it touches no file, and
// whether the folder is writable is the caller's input.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wm {

class RestoreSafety {
public:
    struct Refusal {
        enum class Kind { insideASourceFolder, systemLocation, insideTheBackup, notWritable };
        static Refusal insideASourceFolder(std::string name) {
            return {Kind::insideASourceFolder, std::move(name), {}};
        }
        static Refusal systemLocation(std::string path) { return {Kind::systemLocation, {}, std::move(path)}; }
        static Refusal insideTheBackup() { return {Kind::insideTheBackup, {}, {}}; }
        static Refusal notWritable() { return {Kind::notWritable, {}, {}}; }

        Kind kind;
        std::string name;  // insideASourceFolder: the source's display name
        std::string path;  // systemLocation: the system prefix

        // The localised sentence for the user.
        std::string sentence() const;
        friend bool operator==(const Refusal&, const Refusal&) = default;
    };

    struct Source {
        std::string name;
        std::string path;
    };

    static const std::vector<std::string> systemPrefixes;

    // The first refusal that applies, or nothing when the target is acceptable.
    static std::optional<Refusal> check(const std::string& destination, const std::string& repositoryPath,
                                        const std::vector<Source>& sourcePaths, bool isWritable);

    // False when folder is empty; true when path equals folder or begins with folder
    // followed by "/" (no second "/" when folder already ends with one). Plain text
    // comparison: no case folding, no link resolution.
    static bool isInside(std::string_view path, std::string_view folder);

    // Tilde expansion, "//" and "." components reduced, ".." resolved by text in an
    // absolute path, and a trailing "/" removed.
    static std::string standardizingPath(std::string_view path);
};

}  // namespace wm

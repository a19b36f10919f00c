#pragma once
// The folders chosen for backup, each with a label no other chosen folder has. A folder
// that is already chosen, lies inside a chosen folder or holds one is refused, with the
// sentence that says which folder is in the way.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/RepositoryJSON.h"

namespace wm {

struct SourceSelection {
    struct Source {
        std::string path;   // absolute, standardised
        std::string label;  // short name shown for it

        const std::string& id() const { return path; }
        friend auto operator<=>(const Source&, const Source&) = default;
    };

    struct Refusal {
        enum class Kind : std::uint8_t { alreadyChosen, insideAnother, containsAnother };
        Kind kind;
        std::string label;  // of the chosen folder in the way

        std::string sentence() const;
        friend bool operator==(const Refusal&, const Refusal&) = default;
    };

    std::vector<Source> sources;  // in the order they were added

    // Standardises the path and adds it at the end; the refusal leaves the selection as it was.
    std::optional<Refusal> add(std::string_view path);
    // Removes every source stored with exactly this path.
    void remove(std::string_view path);

    JSON toJSON() const;
    static SourceSelection fromJSON(const JSON& json);  // throws RepositoryJSON::DecodingError
    friend bool operator==(const SourceSelection&, const SourceSelection&) = default;

private:
    std::string uniqueLabel(const std::string& path) const;
};

}  // namespace wm

template <>
struct std::hash<wm::SourceSelection::Source> {
    std::size_t operator()(const wm::SourceSelection::Source& s) const noexcept {
        return std::hash<std::string>()(s.path) ^ (std::hash<std::string>()(s.label) << 1);
    }
};

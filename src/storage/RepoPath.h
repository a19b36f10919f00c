#pragma once
// A relative path inside a repository: a list of validated components, written joined by "/".
#include <compare>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wm {

class RepoPath {
public:
    // The repository root: no components. It is a folder that can be listed.
    RepoPath() = default;

    // Gives nothing when a component is empty, ".", "..", or contains "/" or a NUL character.
    static std::optional<RepoPath> make(std::vector<std::string> components);
    // Splits text on "/" and validates as make() does; "" gives the root.
    static std::optional<RepoPath> parse(std::string_view text);
    static bool isValidComponent(std::string_view component);

    const std::vector<std::string>& components() const { return components_; }
    bool isRoot() const { return components_.empty(); }
    std::size_t depth() const { return components_.size(); }
    // The last component (the file name); "" for the root.
    std::string fileName() const;
    // The path without its last component; the root for the root.
    RepoPath parent() const;

    // This path followed by one more component; nothing when the component is not valid.
    std::optional<RepoPath> appending(std::string component) const;
    // Like appending(), for components the program builds itself (hex names, fixed folder
    // names): an invalid component is a programming error and stops the process.
    RepoPath operator/(std::string_view component) const;

    // Components joined by "/"; "" for the root.
    std::string string() const;
    // Whether other lies strictly below this path.
    bool isAncestorOf(const RepoPath& other) const;

    friend auto operator<=>(const RepoPath&, const RepoPath&) = default;
    friend bool operator==(const RepoPath&, const RepoPath&) = default;

private:
    explicit RepoPath(std::vector<std::string> components) : components_(std::move(components)) {}
    std::vector<std::string> components_;
};

}  // namespace wm

template <>
struct std::hash<wm::RepoPath> {
    std::size_t operator()(const wm::RepoPath& path) const noexcept {
        std::size_t h = 1469598103934665603ULL;
        for (const auto& c : path.components()) {
            h ^= std::hash<std::string>{}(c) + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
        }
        return h;
    }
};

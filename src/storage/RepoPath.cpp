#include "storage/RepoPath.h"

#include <cstdio>
#include <cstdlib>

namespace wm {

bool RepoPath::isValidComponent(std::string_view component) {
    if (component.empty() || component == "." || component == "..") return false;
    return component.find('/') == std::string_view::npos && component.find('\0') == std::string_view::npos;
}

std::optional<RepoPath> RepoPath::make(std::vector<std::string> components) {
    for (const auto& c : components) {
        if (!isValidComponent(c)) return std::nullopt;
    }
    return RepoPath(std::move(components));
}

std::optional<RepoPath> RepoPath::parse(std::string_view text) {
    std::vector<std::string> components;
    if (text.empty()) return RepoPath();
    std::size_t start = 0;
    while (true) {
        std::size_t slash = text.find('/', start);
        std::string_view part =
            text.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        components.emplace_back(part);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return make(std::move(components));
}

std::string RepoPath::fileName() const { return components_.empty() ? std::string() : components_.back(); }

RepoPath RepoPath::parent() const {
    if (components_.empty()) return *this;
    return RepoPath(std::vector<std::string>(components_.begin(), components_.end() - 1));
}

std::optional<RepoPath> RepoPath::appending(std::string component) const {
    if (!isValidComponent(component)) return std::nullopt;
    auto copy = components_;
    copy.push_back(std::move(component));
    return RepoPath(std::move(copy));
}

RepoPath RepoPath::operator/(std::string_view component) const {
    auto result = appending(std::string(component));
    if (!result) {
        std::fprintf(stderr, "RepoPath: invalid component appended to \"%s\"\n", string().c_str());
        std::abort();
    }
    return *std::move(result);
}

std::string RepoPath::string() const {
    std::string out;
    for (std::size_t i = 0; i < components_.size(); ++i) {
        if (i) out += '/';
        out += components_[i];
    }
    return out;
}

bool RepoPath::isAncestorOf(const RepoPath& other) const {
    if (other.components_.size() <= components_.size()) return false;
    for (std::size_t i = 0; i < components_.size(); ++i) {
        if (components_[i] != other.components_[i]) return false;
    }
    return true;
}

}  // namespace wm

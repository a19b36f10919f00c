#include "app/AppPaths.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace wm::AppPaths {

namespace fs = std::filesystem;

namespace {

std::string withoutTrailingSeparators(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::string standardised(std::string_view path) {
    fs::path p{std::string(path)};
    if (p.is_relative()) {
        std::error_code ec;
        const fs::path here = fs::current_path(ec);
        p = ec ? fs::path("/") / p : here / p;
    }
    return withoutTrailingSeparators(p.lexically_normal().string());
}

std::string lastComponent(std::string_view path) {
    if (path.empty()) return "";
    std::string s = withoutTrailingSeparators(std::string(path));
    if (s == "/") return s;
    const auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::string resolvedAsFarAsItExists(std::string_view standardisedPath) {
    fs::path existing{std::string(standardisedPath)};
    std::vector<fs::path> missing;
    std::error_code ec;
    while (!existing.empty()) {
        fs::path resolved = fs::canonical(existing, ec);
        if (!ec) {
            for (auto it = missing.rbegin(); it != missing.rend(); ++it) resolved /= *it;
            return withoutTrailingSeparators(resolved.lexically_normal().string());
        }
        if (!existing.has_relative_path()) break;  // the root itself did not resolve
        missing.push_back(existing.filename());
        existing = existing.parent_path();
    }
    return std::string(standardisedPath);
}

}  // namespace wm::AppPaths

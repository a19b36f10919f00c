#pragma once
// Whether a file in a backup can be shown without restoring it: text as text, pictures
// as pictures, when small enough to read at a glance; otherwise the sentence that says why not.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace wm::FilePreview {

// The largest file previewed, in bytes (decimal, not 2 MiB).
inline constexpr std::uint64_t budget = 2000000;

const std::set<std::string, std::less<>>& textExtensions();
const std::set<std::string, std::less<>>& imageExtensions();

struct Kind {
    enum class Case : std::uint8_t { notShowable, text, image, tooBig };
    Case kind = Case::notShowable;
    std::string what;  // notShowable: ".pages", or "a file with no extension"

    static Kind notShowable(std::string what) { return {Case::notShowable, std::move(what)}; }
    static Kind text() { return {Case::text, {}}; }
    static Kind image() { return {Case::image, {}}; }
    static Kind tooBig() { return {Case::tooBig, {}}; }
    friend bool operator==(const Kind&, const Kind&) = default;
};

Kind kind(std::string_view name, std::uint64_t size);
// What to show instead of the preview; absent when the preview is shown.
std::optional<std::string> sentence(const Kind& kind, std::string_view name, std::uint64_t size);

}  // namespace wm::FilePreview

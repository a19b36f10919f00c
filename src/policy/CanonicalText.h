#pragma once
// Texts compared the way the user sees them: canonically equivalent spellings (a
// precomposed and a decomposed accent) are one text, while bytes that are not UTF-8 are
// compared as they are (Unicode::canonicalName). Plain ASCII, by far the common case, is
// already in that form and is not copied.
// A "/" never combines with its neighbours, so a prefix that ends before a "/" ends on
// a character boundary in both forms.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace wm {

class CanonicalText {
public:
    explicit CanonicalText(std::string_view text);
    CanonicalText(const CanonicalText&) = delete;
    CanonicalText& operator=(const CanonicalText&) = delete;

    std::string_view view() const { return view_; }

    static bool isASCII(std::string_view text) {
        // Eight bytes at a time: asked for every path of a scan.
        std::size_t i = 0;
        for (; i + 8 <= text.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            if (word & 0x8080808080808080ull) return false;
        }
        for (; i < text.size(); ++i)
            if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
        return true;
    }
    static bool equal(std::string_view a, std::string_view b);
    // path equals folder, or begins with folder followed by "/". The root "/" holds
    // every other absolute path.
    static bool isInsideOrIs(std::string_view path, std::string_view folder);

private:
    std::string owned_;
    std::string_view view_;
};

// The same test on texts already in canonical form.
inline bool isInsideOrIsExactly(std::string_view path, std::string_view folder) {
    if (path == folder) return true;
    if (folder == "/") return path.size() > 1 && path.front() == '/';
    return path.size() > folder.size() && path[folder.size()] == '/' && path.starts_with(folder);
}

}  // namespace wm

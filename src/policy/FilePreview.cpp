#include "policy/FilePreview.h"

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "policy/PathExtension.h"

namespace wm::FilePreview {

const std::set<std::string, std::less<>>& textExtensions() {
    static const std::set<std::string, std::less<>> extensions = {
        "txt", "md",    "markdown", "csv", "tsv",  "json", "xml",   "yml", "yaml", "html", "htm",  "css",
        "js",  "swift", "py",       "rb",  "sh",   "c",    "h",     "cpp", "m",    "mm",   "java", "go",
        "rs",  "sql",   "log",      "ini", "conf", "toml", "plist", "srt", "vcf",  "ics",
    };
    return extensions;
}

const std::set<std::string, std::less<>>& imageExtensions() {
    static const std::set<std::string, std::less<>> extensions = {"png",  "jpg",  "jpeg", "gif", "heic",
                                                                  "heif", "tiff", "tif",  "bmp", "webp"};
    return extensions;
}

Kind kind(std::string_view name, std::uint64_t size) {
    const std::string ext = lowercasePathExtension(name);
    const bool isText = textExtensions().contains(ext);
    if (isText || imageExtensions().contains(ext)) {
        if (size > budget) return Kind::tooBig();
        return isText ? Kind::text() : Kind::image();
    }
    return Kind::notShowable(ext.empty() ? WM_L("a file with no extension") : "." + ext);
}

std::optional<std::string> sentence(const Kind& kind, std::string_view name, std::uint64_t size) {
    switch (kind.kind) {
    case Kind::Case::text:
    case Kind::Case::image: return std::nullopt;
    case Kind::Case::tooBig:
        return WM_L("%@ is %@, which is more than a glance. Get it back to open it.", name, Phrasing::bytes(size));
    case Kind::Case::notShowable:
        return WM_L(
            "Wendle Marsh can show text and pictures here, and %@ is %@. Get it back to open it in "
            "whatever made it.",
            name, kind.what);
    }
    return std::nullopt;
}

}  // namespace wm::FilePreview

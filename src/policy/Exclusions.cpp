#include "policy/Exclusions.h"

#include <fnmatch.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cctype>
#include <cwctype>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "policy/CanonicalText.h"
#include "policy/StoredForm.h"

namespace wm {

namespace {

constexpr std::string_view kDataVolume = "/System/Volumes/Data";

// The data volume's view of a path, folded onto the root volume.
std::string_view folded(std::string_view path) {
    if (path == kDataVolume) return "/";
    if (path.size() > kDataVolume.size() && path[kDataVolume.size()] == '/' && path.starts_with(kDataVolume))
        return path.substr(kDataVolume.size());
    return path;
}

std::string_view lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    if (path == "/") return path;
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The rest of path after home + "/"; absent when path is not strictly inside home.
std::optional<std::string_view> placeIn(std::string_view path, std::string_view home) {
    if (path.size() > home.size() + 1 && path[home.size()] == '/' && path.starts_with(home))
        return path.substr(home.size() + 1);
    return std::nullopt;
}

// What the rules need to know of an entry's name, found in one pass over it.
struct NameTraits {
    bool ascii = true;
    bool slashOrNul = false;    // "/" or NUL: no shortcut past fnmatch
    bool composesFrom = false;  // "K", ";" or "`", which other characters compose to
    explicit NameTraits(std::string_view name) {
        for (char c : name) {
            ascii &= static_cast<unsigned char>(c) < 0x80;
            slashOrNul |= c == '/' || c == '\0';
            composesFrom |= c == 'K' || c == ';' || c == '`';
        }
    }
};

bool containsCanonically(const std::set<std::string>& set, const std::string& text, const NameTraits& traits) {
    if (set.contains(text)) return true;
    // Only three characters compose to ASCII on their own (KELVIN SIGN to "K", GREEK
    // QUESTION MARK to ";", GREEK VARIA to "`"). An ASCII text without those three can
    // equal no other spelling, and the exact look-up above has answered it.
    if (traits.ascii && !traits.composesFrom) return false;
    return std::any_of(set.begin(), set.end(),
                       [&](const std::string& entry) { return CanonicalText::equal(entry, text); });
}

// The first folder of the set that holds the path; empty entries hold nothing.
const std::string* holdingFolder(const std::set<std::string>& folders, std::string_view path) {
    for (const std::string& folder : folders) {
        if (folder.empty()) continue;
        const CanonicalText canonical(folded(folder));
        if (isInsideOrIsExactly(path, canonical.view())) return &folder;
    }
    return nullptr;
}

// The usual pattern, "*" and a plain ending (".tmp"), tried on a name of plain ASCII without
// calling fnmatch: the answer is the one fnmatch gives where ASCII letters fold the usual way
// (not in a Turkic locale, where "I" folds to a dotless i). Absent when the shortcut does not apply.
char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::optional<bool> matchesEnding(std::string_view name, std::string_view pattern) {
    if (pattern.size() < 2 || pattern[0] != '*') return std::nullopt;
    const std::string_view ending = pattern.substr(1);
    for (char c : ending)
        if (static_cast<unsigned char>(c) >= 0x80 || c == '*' || c == '?' || c == '[' || c == '\\' || c == '/' ||
            c == '\0')
            return std::nullopt;
    if (name.size() < ending.size()) return false;
    const std::string_view tail = name.substr(name.size() - ending.size());
    for (std::size_t i = 0; i < ending.size(); ++i)
        if (asciiLower(tail[i]) != asciiLower(ending[i])) return false;
    return true;
}

bool usualFolding() { return std::tolower('I') == 'i' && std::towlower(L'I') == L'i'; }

}  // namespace

const std::set<std::string>& Exclusions::defaultNames() {
    static const std::set<std::string> names = {
        ".Spotlight-V100",
        ".fseventsd",
        ".DocumentRevisions-V100",
        ".TemporaryItems",
        ".Trashes",
        ".MobileBackups",
        ".PKInstallSandboxManager",
        "node_modules",
        ".build",
        "DerivedData",
        "__pycache__",
        ".gradle",
        ".npm",
        ".yarn-cache",
        ".cargo/registry",
    };
    return names;
}

const std::set<std::string>& Exclusions::defaultAnchoredPaths() {
    static const std::set<std::string> paths = {
        "Library/Caches",
        "Library/Application Support/MobileSync",
        "Library/Developer/Xcode/DerivedData",
        "Library/Containers/com.apple.Safari/Data/Library/Caches",
    };
    return paths;
}

std::string Exclusions::absolute(std::string_view path, std::string_view root) {
    std::string out(root);
    if (out.ends_with('/')) out.pop_back();
    if (!path.empty()) {
        out += '/';
        out += path;
    }
    const std::string_view f = folded(out);
    return f.size() == out.size() ? out : std::string(f);
}

bool Exclusions::nameMatches(std::string_view name, std::string_view pattern) {
    return ::fnmatch(std::string(pattern).c_str(), std::string(name).c_str(), FNM_PATHNAME | FNM_CASEFOLD) == 0;
}

std::optional<Exclusions::Reason> Exclusions::excludes(const std::vector<std::string>& components,
                                                       std::string_view root, std::string_view home) const {
    if (components.empty()) return std::nullopt;
    const std::string& name = components.back();
    const NameTraits traits(name);
    if (containsCanonically(names, name, traits)) return Reason::knownCache(name);
    if (!chosen.patterns.empty()) {
        const bool shortcut = traits.ascii && !traits.slashOrNul && usualFolding();
        for (const std::string& pattern : chosen.patterns) {
            const auto quick = shortcut ? matchesEnding(name, pattern) : std::nullopt;
            if (quick ? *quick : ::fnmatch(pattern.c_str(), name.c_str(), FNM_PATHNAME | FNM_CASEFOLD) == 0)
                return Reason::chosen(pattern);
        }
    }

    // The entry's absolute path, built in one piece: root, then "/" and the joined components.
    std::string_view rootText = root;
    if (rootText.ends_with('/')) rootText.remove_suffix(1);
    std::string entry;
    entry.reserve(rootText.size() + components.size() * 16);
    entry += rootText;
    if (components.size() > 1 || !components.front().empty())
        for (std::size_t i = 0; i < components.size(); ++i) {
            entry += '/';
            entry += components[i];
        }
    const CanonicalText path(folded(entry));
    if (!chosen.folders.empty() || !systemFolders.empty()) {
        if (const std::string* folder = holdingFolder(chosen.folders, path.view()))
            return Reason::chosen(std::string(lastComponent(*folder)));
        if (const std::string* folder = holdingFolder(systemFolders, path.view()))
            return Reason::knownCache(std::string(lastComponent(*folder)));
    }

    const CanonicalText homeFolder(folded(home));
    const auto place = placeIn(path.view(), homeFolder.view());
    if (!place) return std::nullopt;
    const CanonicalText rootPath(folded(rootText));
    const auto rootPlace = placeIn(rootPath.view(), homeFolder.view());
    for (const std::string& anchored : anchoredPaths) {
        const CanonicalText a(anchored);
        if (!isInsideOrIsExactly(*place, a.view())) continue;
        if (rootPlace && isInsideOrIsExactly(*rootPlace, a.view())) continue;  // the root itself lies there
        return Reason::knownCache(anchored);
    }
    return std::nullopt;
}

std::optional<Exclusions::Reason> Exclusions::excludes(std::string_view file, std::int64_t size) const {
    if (chosen.largerThan && *chosen.largerThan < size) return Reason::tooLarge(std::string(file), *chosen.largerThan);
    return std::nullopt;
}

std::vector<std::string> Exclusions::describedRules() const {
    std::vector<std::string> lines;
    for (const auto& n : names) lines.push_back("name:" + n);
    for (const auto& a : anchoredPaths) lines.push_back("home:" + a);
    for (const auto& f : chosen.folders) lines.push_back("folder:" + f);
    for (const auto& s : systemFolders) lines.push_back("system:" + s);
    for (const auto& p : chosen.patterns) lines.push_back("pattern:" + p);
    if (chosen.largerThan) lines.push_back("largerThan:" + std::to_string(*chosen.largerThan));
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string Exclusions::Reason::sentence() const {
    switch (kind) {
    case Kind::knownCache: return WM_L("%@ was left out. It is a cache and is rebuilt automatically.", name);
    case Kind::chosen: return WM_L("%@ was left out because you asked for it to be.", name);
    case Kind::tooLarge:
        return WM_L("%@ was left out because it is bigger than %@, which is the limit you set.", name,
                    limit > 0 ? Phrasing::bytes(static_cast<std::uint64_t>(limit)) : std::string("nothing"));
    }
    return {};
}

std::optional<std::string> Exclusions::leftOutSentence(const std::vector<std::string>& sentences, std::int64_t total) {
    if (total <= 0 || sentences.empty()) return std::nullopt;
    if (total == 1) return sentences.front();
    const std::int64_t others = total - 1;
    const std::string count = Phrasing::grouped(others) + (others == 1 ? " other file" : " other files");
    return WM_L("%@ %@ %@ left out by your rules too.", sentences.front(), count, others == 1 ? "was" : "were");
}

JSON Exclusions::Chosen::toJSON() const {
    JSON out{{"folders", StoredForm::array(folders)}, {"patterns", patterns}};
    StoredForm::putOptional(out, "largerThan", largerThan, [](std::int64_t v) { return JSON(v); });
    return out;
}

Exclusions::Chosen Exclusions::Chosen::fromJSON(const JSON& json) {
    Chosen chosen;
    chosen.folders = StoredForm::textSet(RepositoryJSON::member(json, "folders"), "folders");
    chosen.patterns = StoredForm::texts(RepositoryJSON::member(json, "patterns"), "patterns");
    chosen.largerThan = StoredForm::optional(json, "largerThan", RepositoryJSON::int64);
    return chosen;
}

JSON Exclusions::toJSON() const {
    return JSON{{"names", StoredForm::array(names)},
                {"anchoredPaths", StoredForm::array(anchoredPaths)},
                {"chosen", chosen.toJSON()},
                {"systemFolders", StoredForm::array(systemFolders)}};
}

Exclusions Exclusions::fromJSON(const JSON& json) {
    Exclusions exclusions;
    exclusions.names = StoredForm::textSet(RepositoryJSON::member(json, "names"), "names");
    exclusions.anchoredPaths = StoredForm::textSet(RepositoryJSON::member(json, "anchoredPaths"), "anchoredPaths");
    exclusions.chosen = Chosen::fromJSON(RepositoryJSON::member(json, "chosen"));
    exclusions.systemFolders = StoredForm::textSet(RepositoryJSON::member(json, "systemFolders"), "systemFolders");
    return exclusions;
}

namespace LeftOutPatternRules {

namespace {

// Spaces and tabs at either end (any Unicode space separator), not line breaks.
std::string_view trimmed(std::string_view text) {
    auto isBlank = [](UChar32 c) { return c == '\t' || u_charType(c) == U_SPACE_SEPARATOR; };
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t start = 0;
    while (start < length) {
        std::int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (!isBlank(c)) break;
        start = next;
    }
    std::int32_t end = length;
    while (end > start) {
        std::int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (!isBlank(c)) break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

}  // namespace

std::optional<std::string> refusal(std::string_view pattern) {
    const std::string_view p = trimmed(pattern);
    if (p.empty()) return WM_L("Type something to leave out, like *.mov");
    if (p == "*" || p == "*.*")
        return WM_L("%@ matches every file, which would leave you with a backup of nothing.", std::string(p));
    if (p.find('/') != std::string_view::npos)
        return WM_L(
            "A pattern matches a file's name, so it cannot contain a slash. To leave out a whole folder, use "
            "Leave Out a Folder.");
    return std::nullopt;
}

}  // namespace LeftOutPatternRules

}  // namespace wm

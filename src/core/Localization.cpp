#include "core/Localization.h"

#include <libintl.h>
#include <unistd.h>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

namespace wm::Localization {

namespace {

namespace fs = std::filesystem;

struct State {
    std::mutex mutex;
    bool ready = false;
    std::string locale;      // ICU identifier
    std::string catalogues;  // folder of catalogues
    std::set<std::string> boundDomains;
};

State& state() {
    static State s;
    return s;
}

std::string environmentLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0') return v;
    }
    return {};
}

// "fr_FR.UTF-8@euro" -> "fr_FR"; C and POSIX -> "en_US".
std::string icuIdentifier(std::string name) {
    if (auto at = name.find('@'); at != std::string::npos) name.erase(at);
    if (auto dot = name.find('.'); dot != std::string::npos) name.erase(dot);
    if (name.empty() || name == "C" || name == "POSIX") return "en_US";
    return name;
}

std::string executableDirectory() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().string();
}

std::string findCatalogues() {
    std::string dir = executableDirectory();
    if (!dir.empty()) {
        for (const fs::path& candidate : {fs::path(dir) / ".." / "share" / "locale", fs::path(dir) / "locale"}) {
            std::error_code ec;
            if (fs::is_directory(candidate, ec)) return fs::weakly_canonical(candidate, ec).string();
        }
    }
    return WM_LOCALE_DIR;
}

// Called with the mutex held.
void prepare(State& s) {
    if (s.ready) return;
    s.ready = true;
    s.locale = icuIdentifier(environmentLocale());
    s.catalogues = findCatalogues();
    // Messages follow the environment; nothing else of the C locale is touched,
    // so number parsing and printing elsewhere stay locale-independent.
    std::setlocale(LC_MESSAGES, "");
}

void bind(State& s, const std::string& domain) {
    if (s.boundDomains.insert(domain).second) {
        bindtextdomain(domain.c_str(), s.catalogues.c_str());
        bind_textdomain_codeset(domain.c_str(), "UTF-8");
    }
}

enum class Directive { none, text, integer };

}  // namespace

std::string lookup(const char* domain, std::string_view english) {
    // An empty message id would fetch a catalogue's header entry.
    if (english.empty() || domain == nullptr) return std::string(english);
    std::string key(english);
    State& s = state();
    {
        std::lock_guard lock(s.mutex);
        prepare(s);
        bind(s, domain);
    }
    const char* translated = dgettext(domain, key.c_str());
    if (translated == nullptr || translated == key.c_str()) return key;
    return translated;
}

std::string format(std::string_view pattern, std::span<const Value> values) {
    std::string out;
    out.reserve(pattern.size() + 16);
    std::size_t nextSequential = 0;
    std::size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        std::size_t start = i++;
        if (i < pattern.size() && pattern[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // Optional position "N$" (1-based).
        std::size_t position = 0;
        bool positional = false;
        std::size_t j = i;
        std::size_t digits = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') {
            if (position < 1000000) position = position * 10 + static_cast<std::size_t>(pattern[j] - '0');
            ++j;
            ++digits;
        }
        if (digits > 0 && j < pattern.size() && pattern[j] == '$' && position > 0) {
            positional = true;
            i = j + 1;
        }
        // The conversion itself.
        Directive kind = Directive::none;
        std::size_t length = 0;
        std::string_view rest = pattern.substr(i);
        if (rest.starts_with("@")) {
            kind = Directive::text;
            length = 1;
        } else {
            for (std::string_view form : {"lld", "llu", "ld", "lu", "d", "i", "u"}) {
                if (rest.starts_with(form)) {
                    kind = Directive::integer;
                    length = form.size();
                    break;
                }
            }
        }
        if (kind == Directive::none) {
            // Unknown: copied as it stands, the '%' alone; what follows is ordinary text.
            out += '%';
            i = start + 1;
            continue;
        }
        i += length;
        std::size_t index = positional ? position - 1 : nextSequential++;
        if (index >= values.size()) continue;  // a missing value becomes ""
        const Value& v = values[index];
        if (v.isText)
            out += v.text;
        else
            out += std::to_string(v.integer);
    }
    return out;
}

std::string sentence(const char* domain, std::string_view english, std::initializer_list<Value> values) {
    std::string pattern = lookup(domain, english);
    return format(pattern, std::span<const Value>(values.begin(), values.size()));
}

std::string localeIdentifier() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    prepare(s);
    return s.locale;
}

std::string catalogueDirectory() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    prepare(s);
    return s.catalogues;
}

void setLocaleForTesting(const std::string& identifier) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    prepare(s);
    s.locale = icuIdentifier(identifier);
    // The message language through LANGUAGE, which gettext honours whenever the
    // messages locale is not plain "C"; C.UTF-8 exists on every current glibc.
    std::string language = s.locale;
    setenv("LANGUAGE", language.c_str(), 1);
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) std::setlocale(LC_MESSAGES, "");
    // Changing the locale drops gettext's cache of earlier answers.
}

void setCatalogueDirectoryForTesting(const std::string& directory) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    prepare(s);
    s.catalogues = directory;
    for (const std::string& domain : s.boundDomains) bindtextdomain(domain.c_str(), directory.c_str());
}

}  // namespace wm::Localization

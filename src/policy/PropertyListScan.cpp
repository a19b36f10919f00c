#include "policy/PropertyListScan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/RepositoryJSON.h"

namespace wm {

namespace {

// Property-list dates count seconds from 2001-01-01T00:00:00Z.
constexpr double kReferenceDateUnixSeconds = 978307200;

std::optional<Date> dateFromReferenceSeconds(double seconds) {
    const double microseconds = (seconds + kReferenceDateUnixSeconds) * 1e6;
    // NaN fails both tests; 9.2e18 is just inside what 64 bits hold.
    if (!(microseconds > -9.2e18 && microseconds < 9.2e18)) return std::nullopt;
    return Date::fromMicroseconds(std::llround(microseconds));
}

void appendUTF8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A key as the library compares it: C text, so it ends at the first NUL.
std::string keyText(std::string text) {
    if (const auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
    return text;
}

// ---- XML ----------------------------------------------------------------------------------
//
// The depth counted here is never below the library's: every "<dict" or "<array" that could
// open a container counts wherever it stands, while only a closing tag outside comments,
// CDATA, processing instructions, the document type and quoted text closes one. Where the
// library's versions read differently (quotes skipped or not, the text of true and false),
// the scan takes the reading that closes less. Which entries belong to the top-level
// dictionary follows a second count that only container tags change, so a "<dict>" written
// in a comment keeps the entries after it where they are.
class XMLScan {
public:
    explicit XMLScan(std::string_view text) : s_(text) {}

    bool unreadableKey = false;  // a top-level key this scan cannot read as the library does

    bool run(std::map<std::string, std::optional<Date>>& dates) {
        for (std::size_t lt; (lt = s_.find('<', i_)) != std::string_view::npos;) {
            i_ = lt;
            bool ok;
            if (at("<!--"))
                ok = stepTo(i_ + 4, "-->", false);
            else if (at("<![CDATA["))
                ok = stepTo(i_ + 9, "]]>", false);
            else if (at("<?"))
                ok = stepTo(i_ + 2, "?>", true);
            else if (at("<!"))
                ok = doctype();
            else
                ok = tag(dates);
            if (!ok) return false;
        }
        return true;
    }

private:
    bool at(std::string_view prefix) const { return s_.substr(i_, prefix.size()) == prefix; }

    // Counts a container that may open at position p; false once they nest too deep.
    bool mayOpenAt(std::size_t p) {
        for (const std::string_view name : {std::string_view("<dict"), std::string_view("<array")}) {
            if (s_.substr(p, name.size()) != name) continue;
            const std::string_view rest = s_.substr(p + name.size(), 2);
            if (rest == "/>") return true;  // <dict/> is empty in every reading
            if (rest.empty() || std::strchr(" \r\n\t<>/", rest[0]) || rest[0] == '\0')
                return ++depth_ <= PropertyListScan::deepestNesting;
        }
        return true;
    }

    // The position of the double quote closing the stretch that opens at p (or the end of the
    // text), counting what may open inside; npos once that nests too deep.
    std::size_t closingQuote(std::size_t p) {
        const std::size_t close = std::min(s_.find('"', p + 1), s_.size());
        for (std::size_t q = p + 1; q < close; ++q)
            if (!mayOpenAt(q)) return std::string_view::npos;
        return close;
    }

    // The position just past the character at p, a double-quoted stretch counting as one with
    // quotes; npos once what opens inside nests too deep.
    std::size_t stepOver(std::size_t p, bool quotes) {
        if (!quotes || s_[p] != '"') return p + 1;
        const std::size_t close = closingQuote(p);
        return close == std::string_view::npos ? close : close + 1;
    }

    // From p, steps over text that closes nothing to just past `end` (or to the end of the
    // text), counting what may open inside. With quotes, a double-quoted stretch is one step.
    bool stepTo(std::size_t p, std::string_view end, bool quotes) {
        while (p < s_.size() && s_.substr(p, end.size()) != end) {
            if (!mayOpenAt(p) || (p = stepOver(p, quotes)) == std::string_view::npos) return false;
        }
        i_ = std::min(p + end.size(), s_.size());
        return true;
    }

    // "<!DOCTYPE ...>", whose internal subset after a "[" runs to "]>".
    bool doctype() {
        for (std::size_t p = i_ + 2; p < s_.size(); ++p) {
            if (s_[p] == '>') {
                i_ = p + 1;
                return true;
            }
            if (s_[p] == '[') return stepTo(p + 1, "]>", true);
            if (!mayOpenAt(p)) return false;
            if (s_[p] == '"') {
                const std::size_t close = closingQuote(p);
                if (close == std::string_view::npos) return false;
                p = close;
            }
        }
        i_ = s_.size();
        return true;
    }

    // One tag: its name (up to white space, "<", ">" or a NUL, where the library's C text
    // ends), then up to its ">" with quoted text stepped over.
    bool tag(std::map<std::string, std::optional<Date>>& dates) {
        const std::size_t outside = containers_;
        if (!mayOpenAt(i_)) return false;
        const bool closing = at("</");
        const std::size_t nameStart = i_ + (closing ? 2 : 1);
        std::size_t nameEnd = nameStart;
        while (nameEnd < s_.size() && !std::strchr(" \r\n\t<>", s_[nameEnd]) && s_[nameEnd] != '\0') ++nameEnd;
        std::string_view name = s_.substr(nameStart, nameEnd - nameStart);
        if (!stepTo(nameEnd, ">", true)) return false;
        if (s_[i_ - 1] != '>') return true;  // the text ended inside the tag
        const bool empty = i_ >= nameStart + 2 && s_[i_ - 2] == '/';
        if (empty && name.ends_with('/')) name.remove_suffix(1);
        const bool container = name == "dict" || name == "array";
        if (closing) {
            if (container && depth_ > 0) --depth_;
            if (container && containers_ > 0 && --containers_ == 0) rootDict_ = false;
            return true;
        }
        if (container && !empty) ++containers_;
        const bool entry = outside == 1 && rootDict_;  // inside the top-level dictionary
        if (container && outside == 0 && !rootSeen_) {
            rootSeen_ = true;
            rootDict_ = name == "dict" && !empty;
            return true;
        }
        // The text of a key, a date, true or false, up to the next "<" (true and false: with
        // quoted stretches stepped over, as one of the library's readers does).
        std::string_view text;
        bool plain = false;
        if (!empty && (name == "key" || name == "date" || name == "true" || name == "false")) {
            const bool quotes = name == "true" || name == "false";
            std::size_t p = i_;
            while (p < s_.size() && s_[p] != '<') {
                if ((p = stepOver(p, quotes)) == std::string_view::npos) return false;
            }
            p = std::min(p, s_.size());
            text = s_.substr(i_, p - i_);
            plain = s_.substr(p, name.size() + 3) == "</" + std::string(name) + ">";
            i_ = p;
        }
        if (!entry) return true;
        if (name == "key") {
            const auto decoded = plain ? decodedEntities(text) : std::nullopt;
            if (!decoded) unreadableKey = true;
            key_ = keyText(decoded.value_or(std::string()));
        } else if (key_) {
            dates[*key_] = name == "date" && plain ? xmlDate(text) : std::nullopt;  // the last entry wins
            key_.reset();
        }
        return true;
    }

    // The five named entities and numeric references; nothing for anything else.
    static std::optional<std::string> decodedEntities(std::string_view text) {
        static const std::pair<std::string_view, char> named[] = {
            {"amp", '&'}, {"apos", '\''}, {"quot", '"'}, {"lt", '<'}, {"gt", '>'}};
        std::string out;
        for (std::size_t p = 0; p < text.size();) {
            if (text[p] != '&') {
                out += text[p++];
                continue;
            }
            const std::size_t semi = text.find(';', p);
            if (semi == std::string_view::npos) return std::nullopt;
            const std::string_view entity = text.substr(p + 1, semi - p - 1);
            p = semi + 1;
            const auto known =
                std::find_if(std::begin(named), std::end(named), [&](const auto& n) { return n.first == entity; });
            if (known != std::end(named)) {
                out += known->second;
                continue;
            }
            if (entity.size() < 2 || entity[0] != '#') return std::nullopt;
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string digits(entity.substr(hex ? 2 : 1));
            char* end = nullptr;
            const unsigned long value = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            if (digits.empty() || digits.size() > 7 || *end != '\0' || value == 0 || value > 0x10FFFF)
                return std::nullopt;
            appendUTF8(out, static_cast<std::uint32_t>(value));
        }
        return out;
    }

    // "2024-05-01T10:15:30Z" with white space around it; a fraction of a second is dropped.
    static std::optional<Date> xmlDate(std::string_view text) {
        while (!text.empty() && std::strchr(" \t\r\n", text.front())) text.remove_prefix(1);
        while (!text.empty() && std::strchr(" \t\r\n", text.back())) text.remove_suffix(1);
        std::string whole(text);
        if (const auto dot = whole.find('.'); dot != std::string::npos) {
            const auto zone = std::min(whole.find_first_not_of("0123456789", dot + 1), whole.size());
            if (zone == dot + 1) return std::nullopt;
            whole.erase(dot, zone - dot);
        }
        return RepositoryJSON::parseWholeSecondDate(whole);
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::size_t depth_ = 0;       // every container that may be open, for the nesting bound
    std::size_t containers_ = 0;  // the containers the tags open, for the top level's entries
    bool rootSeen_ = false, rootDict_ = false;
    std::optional<std::string> key_;
};

// ---- Binary ---------------------------------------------------------------------------------

class BinaryScan {
public:
    explicit BinaryScan(std::string_view bytes) : b_(bytes) {}

    bool run(std::map<std::string, std::optional<Date>>& dates) {
        if (b_.size() < 8 + 32) return false;
        const std::size_t trailer = b_.size() - 32;
        offsetSize_ = byte(trailer + 6);
        refSize_ = byte(trailer + 7);
        count_ = number(trailer + 8, 8);
        const std::uint64_t root = number(trailer + 16, 8);
        table_ = number(trailer + 24, 8);
        if (offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 || refSize_ > 8 || count_ == 0 || root >= count_ ||
            table_ < 8 || table_ >= trailer || count_ > (trailer - table_) / offsetSize_ || count_ > table_)
            return false;
        if (!walk(root)) return false;
        // The top-level dictionary's dates; the library finds the first entry of a key.
        const auto top = object(root);
        if (!top || top->type != 0xD) return true;
        for (std::uint64_t k = 0; k < top->count; ++k) {
            const auto key = text(number(top->refs + k * refSize_, refSize_));
            if (!key) continue;
            const auto value = object(number(top->refs + (top->count + k) * refSize_, refSize_));
            std::optional<Date> date;
            if (value && value->marker == 0x33 && value->refs + 8 <= table_) {
                const std::uint64_t bits = number(value->refs, 8);
                double seconds;
                std::memcpy(&seconds, &bits, sizeof seconds);
                date = dateFromReferenceSeconds(seconds);
            }
            dates.emplace(keyText(*key), date);
        }
        return true;
    }

private:
    struct Object {
        std::uint8_t marker;
        std::uint8_t type;
        std::uint64_t count;  // entries of a container, or bytes or units of a text
        std::uint64_t refs;   // where its references (or its bytes) start
    };

    std::uint8_t byte(std::uint64_t at) const { return static_cast<std::uint8_t>(b_[at]); }
    std::uint64_t number(std::uint64_t at, std::size_t size) const {
        std::uint64_t value = 0;
        for (std::size_t k = 0; k < size; ++k) value = value << 8 | byte(at + k);
        return value;
    }

    // The object with index n: its marker, its count (a low nibble of 15 means an integer
    // object follows holding it) and where what follows the count starts.
    std::optional<Object> object(std::uint64_t n) const {
        if (n >= count_) return std::nullopt;
        const std::uint64_t at = number(table_ + n * offsetSize_, offsetSize_);
        if (at >= table_) return std::nullopt;
        Object o{byte(at), static_cast<std::uint8_t>(byte(at) >> 4), byte(at) & 0xFu, at + 1};
        if (o.count == 0xF &&
            (o.type == 0x4 || o.type == 0x5 || o.type == 0x6 || o.type == 0xA || o.type == 0xC || o.type == 0xD)) {
            if (o.refs >= table_ || byte(o.refs) >> 4 != 0x1) return std::nullopt;
            const std::size_t size = std::size_t{1} << (byte(o.refs) & 0xF);
            if (size > 8 || o.refs + 1 + size > table_) return std::nullopt;
            o.count = number(o.refs + 1, size);
            o.refs += 1 + size;
        }
        return o;
    }

    static bool isContainer(const Object& o) { return o.type == 0xA || o.type == 0xC || o.type == 0xD; }
    std::uint64_t references(const Object& o) const { return o.type == 0xD ? 2 * o.count : o.count; }

    // Depth first without recursion. The path holds at most the deepest nesting allowed;
    // each object is finished once, keeping its nesting and the nodes the library would
    // build for it (an object referred to twice is built twice).
    bool walk(std::uint64_t root) {
        const std::uint64_t limit = b_.size();
        std::vector<std::uint16_t> nesting(count_, 0);
        std::vector<std::uint32_t> nodes(count_, 0);  // 0: not finished
        std::vector<bool> onPath(count_, false);
        struct Frame {
            std::uint64_t index;
            Object o;
            std::uint64_t next = 0;
            std::uint16_t deepest = 0;
            std::uint64_t size = 1;
        };
        std::vector<Frame> path;
        // Adds a finished object below the top of the path.
        auto add = [&](std::uint64_t n) {
            Frame& parent = path.back();
            if (path.size() + nesting[n] > PropertyListScan::deepestNesting) return false;
            parent.deepest = std::max(parent.deepest, nesting[n]);
            parent.size += nodes[n];
            return parent.size <= limit;
        };
        auto enter = [&](std::uint64_t n) {
            if (onPath[n]) return false;  // refers to itself
            const auto o = object(n);
            if (!o) return false;
            if (isContainer(*o) &&
                (path.size() >= PropertyListScan::deepestNesting || references(*o) > (table_ - o->refs) / refSize_))
                return false;
            onPath[n] = true;
            path.push_back({n, *o});
            return true;
        };
        if (!enter(root)) return false;
        while (!path.empty()) {
            Frame& top = path.back();
            if (isContainer(top.o) && top.next < references(top.o)) {
                const std::uint64_t child = number(top.o.refs + top.next++ * refSize_, refSize_);
                if (child >= count_) return false;
                if (nodes[child] != 0 ? !add(child) : !enter(child)) return false;
                continue;
            }
            const std::uint64_t n = top.index;
            nesting[n] = static_cast<std::uint16_t>(top.deepest + (isContainer(top.o) ? 1 : 0));
            nodes[n] = static_cast<std::uint32_t>(top.size);
            onPath[n] = false;
            path.pop_back();
            if (!path.empty() && !add(n)) return false;
        }
        return true;
    }

    // A key's text as the library makes it: ASCII bytes as they are, UTF-16 converted, a lone
    // surrogate dropped.
    std::optional<std::string> text(std::uint64_t n) const {
        const auto o = object(n);
        if (!o) return std::nullopt;
        if (o->type == 0x5) {
            if (o->count > table_ - o->refs) return std::nullopt;
            return std::string(b_.substr(o->refs, o->count));
        }
        if (o->type != 0x6 || o->count > (table_ - o->refs) / 2) return std::nullopt;
        std::string out;
        std::uint32_t pending = 0;
        bool lead = false;
        for (std::uint64_t k = 0; k < o->count; ++k) {
            const auto unit = static_cast<std::uint32_t>(number(o->refs + 2 * k, 2));
            std::uint32_t c = unit;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                lead = !lead;
                pending = 0x10000 + ((unit & 0x3FF) << 10);
                continue;
            }
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                if (!lead) continue;
                lead = false;
                c = pending | (unit & 0x3FF);
            }
            appendUTF8(out, c);
        }
        return out;
    }

    std::string_view b_;
    std::uint8_t offsetSize_ = 0, refSize_ = 0;
    std::uint64_t count_ = 0, table_ = 0;
};

}  // namespace

std::optional<PropertyListScan> PropertyListScan::of(std::string_view bytes) {
    PropertyListScan scan;
    // The library reads the binary form when the bytes begin with its magic, XML otherwise.
    if (bytes.size() >= 8 && bytes.starts_with("bplist00")) {
        if (!BinaryScan(bytes).run(scan.dates_)) return std::nullopt;
        return scan;
    }
    XMLScan xml(bytes);
    if (!xml.run(scan.dates_)) return std::nullopt;
    if (xml.unreadableKey) scan.dates_.clear();  // which entry the library pairs is unknown
    return scan;
}

std::optional<Date> PropertyListScan::date(const std::string& key) const {
    const auto found = dates_.find(key);
    return found == dates_.end() ? std::nullopt : found->second;
}

}  // namespace wm

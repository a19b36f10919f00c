#include "policy/SourceSelection.h"

#include <algorithm>

#include "core/Localization.h"
#include "core/StandardPath.h"
#include "policy/CanonicalText.h"
#include "policy/StoredForm.h"

namespace wm {

std::optional<SourceSelection::Refusal> SourceSelection::add(std::string_view path) {
    const std::string p = StandardPath::standardizing(path);
    for (const Source& s : sources)
        if (CanonicalText::equal(s.path, p)) return Refusal{Refusal::Kind::alreadyChosen, s.label};
    for (const Source& s : sources)
        if (CanonicalText::isInsideOrIs(p, s.path)) return Refusal{Refusal::Kind::insideAnother, s.label};
    for (const Source& s : sources)
        if (CanonicalText::isInsideOrIs(s.path, p)) return Refusal{Refusal::Kind::containsAnother, s.label};
    sources.push_back(Source{p, uniqueLabel(p)});
    return std::nullopt;
}

void SourceSelection::remove(std::string_view path) {
    std::erase_if(sources, [&](const Source& s) { return s.path == path; });
}

std::string SourceSelection::uniqueLabel(const std::string& path) const {
    // Labels that differ only in how an accent is spelled look the same to a person.
    auto taken = [&](const std::string& label) {
        return std::any_of(sources.begin(), sources.end(),
                           [&](const Source& s) { return CanonicalText::equal(s.label, label); });
    };
    std::vector<std::string> pieces;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) pieces.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (pieces.empty()) return "Backup";
    const std::string& name = pieces.back();
    if (!taken(name)) return name;
    if (pieces.size() >= 2) {
        std::string withParent = pieces[pieces.size() - 2] + " " + name;
        if (!taken(withParent)) return withParent;
    }
    for (std::size_t counter = 2;; ++counter) {
        std::string numbered = name + " " + std::to_string(counter);
        if (!taken(numbered)) return numbered;
    }
}

std::string SourceSelection::Refusal::sentence() const {
    switch (kind) {
    case Kind::alreadyChosen: return WM_L("That folder is already being protected, as %@.", label);
    case Kind::insideAnother:
        return WM_L(
            "That folder is already inside %@, which is being protected, so its contents are already in "
            "your backup.",
            label);
    case Kind::containsAnother:
        return WM_L(
            "That folder contains %@, which is already being protected. Remove %@ first, or choose a folder "
            "that does not contain it.",
            label, label);
    }
    return {};
}

JSON SourceSelection::toJSON() const {
    JSON list = JSON::array();
    for (const Source& s : sources) list.push_back(JSON{{"path", s.path}, {"label", s.label}});
    return JSON{{"sources", list}};
}

SourceSelection SourceSelection::fromJSON(const JSON& json) {
    auto source = [](const JSON& object, const std::string& at) {
        return Source{RepositoryJSON::text(RepositoryJSON::member(object, "path", at), at + ".path"),
                      RepositoryJSON::text(RepositoryJSON::member(object, "label", at), at + ".label")};
    };
    return SourceSelection{StoredForm::each(RepositoryJSON::member(json, "sources"), "sources", source)};
}

}  // namespace wm

#include "policy/SelfHealing.h"

#include <map>

#include "core/Localization.h"
#include "core/Phrasing.h"
#include "policy/CanonicalText.h"

namespace wm::SelfHealing {

Plan plan(const std::set<std::string>& damagedHere, const std::set<std::string>& intactThere,
          const std::string& sourceName) {
    std::set<std::string> intact;
    for (const auto& name : intactThere) intact.insert(std::string(CanonicalText(name).view()));
    // Keyed by the composed form: one entry per name, in code-point order.
    std::map<std::string, std::string> damaged;
    for (const auto& name : damagedHere) damaged.emplace(std::string(CanonicalText(name).view()), name);
    Plan result{{}, {}, sourceName};
    for (const auto& [composed, name] : damaged)
        (intact.count(composed) ? result.repairable : result.lostEverywhere).push_back(name);
    return result;
}

std::string sentence(const Plan& plan) {
    std::vector<std::string> sentences;
    if (const auto n = static_cast<std::int64_t>(plan.repairable.size()); n > 0)
        sentences.push_back(WM_L("%@ can be repaired from %@.", Phrasing::count(n, "damaged piece"), plan.sourceName));
    if (const auto m = static_cast<std::int64_t>(plan.lostEverywhere.size()); m > 0)
        sentences.push_back(
            WM_L("%@ %@ damaged in every copy Wendle Marsh can reach, so %@ cannot be recovered from "
                 "here. Another location, if you have one, may still have them.",
                 Phrasing::count(m, "piece"), m == 1 ? "was" : "were", m == 1 ? "it" : "they"));
    if (sentences.empty()) return WM_L("Nothing needs repairing.");
    return sentences.size() == 1 ? sentences[0] : sentences[0] + " " + sentences[1];
}

}  // namespace wm::SelfHealing

#pragma once
// Damaged pieces found by reading a backup back, split into those another copy of the
// backup still holds intact and those damaged everywhere, with the sentence that says so.
// Piece names are the caller's; the caller carries out the repair.
#include <set>
#include <string>
#include <vector>

namespace wm::SelfHealing {

struct Plan {
    std::vector<std::string> repairable;      // damaged here, intact there; ascending
    std::vector<std::string> lostEverywhere;  // damaged here and not intact there; ascending
    std::string sourceName;                   // the other location

    bool canRepair() const { return !repairable.empty(); }
    friend bool operator==(const Plan&, const Plan&) = default;
};

// Names are compared as texts, canonically equivalent ones as one name, and sorted in
// code-point order of their composed form, whatever the locale.
Plan plan(const std::set<std::string>& damagedHere, const std::set<std::string>& intactThere,
          const std::string& sourceName);

// The repair sentence, then the sentence for what is lost; "Nothing needs repairing." for neither.
std::string sentence(const Plan& plan);

}  // namespace wm::SelfHealing

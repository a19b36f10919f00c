#pragma once
// What must hold before a build is released, each with how it is established, split into
// what a script checks and what a person has to check by hand. Data only: nothing here
// runs the checks.
#include <string>
#include <vector>

namespace wm::ReleaseChecklist {

struct Item {
    std::string what;
    bool checkedAutomatically = false;
    std::string how;

    const std::string& id() const { return what; }
    friend bool operator==(const Item&, const Item&) = default;
};

// Made once, in the locale of its first use.
const std::vector<Item>& items();
// The items a script establishes, and those a person does, each in list order.
std::vector<Item> automatic();
std::vector<Item> byHand();

}  // namespace wm::ReleaseChecklist

#pragma once
// The words of the short introduction shown when someone starts using the backup side.
#include <string>
#include <vector>

namespace wm::OnboardingScript {

struct Step {
    std::string title;
    std::string body;
    // The step answers a common wrong belief about backups.
    bool correctsAMisconception = false;

    const std::string& id() const { return title; }
    friend bool operator==(const Step&, const Step&) = default;
};

// Both made once, in the locale of their first use.
const std::vector<Step>& steps();
const std::string& inOneSentence();

}  // namespace wm::OnboardingScript

#pragma once
// This product set beside Time Machine, row by row, with the rows Time Machine wins marked.
#include <string>
#include <vector>

namespace wm::TimeMachineComparison {

struct Row {
    std::string question;
    std::string wendleMarsh;
    std::string timeMachine;
    bool timeMachineWins = false;

    const std::string& id() const { return question; }
    friend bool operator==(const Row&, const Row&) = default;
};

// Each made once, in the locale of its first use.
const std::vector<Row>& rows();
// Shown above the table and below it.
const std::string& preamble();
const std::string& bothIsFine();

}  // namespace wm::TimeMachineComparison

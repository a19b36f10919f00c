#pragma once
// Recognising a Time Machine drive from the names at its top level, and the two
// sentences that say why its history cannot be imported and why it is no place for a backup.
#include <string>
#include <vector>

namespace wm::ImportFromTimeMachine {

const std::string& explanation();
const std::string& doNotUseAsDestination();

// entries: the names at the top level of a drive or folder (exact, case-sensitive tests).
bool looksLikeTimeMachine(const std::vector<std::string>& entries);

}  // namespace wm::ImportFromTimeMachine

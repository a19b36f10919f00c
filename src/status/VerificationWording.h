#pragma once
// What reading the backup back found, and when a finished check counts as verified.
#include <cstdint>
#include <string>

namespace wm::VerificationWording {

// "Everything in this backup is intact. <n pieces> checked, <bytes> read."
std::string everythingIntact(std::int64_t pieces, std::uint64_t bytesRead);
const std::string& sampleFoundNothing();
const std::string& neverChecked();

// A healthy check that read every piece of a backup that has some.
bool countsAsVerified(bool isHealthy, std::int64_t checked, std::int64_t total);

}  // namespace wm::VerificationWording

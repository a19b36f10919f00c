#pragma once
// What the development tools share about the machine they run on and the secrets they are
// given.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "core/Identifiers.h"
#include "engine/Repository.h"

namespace wm::tools {

// A command line the tool cannot run; the tool prints it with its usage.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole text as a decimal number; anything else throws UsageError naming the option.
std::int64_t parseNumber(const std::string& text, const std::string& option);

// This machine's identity when it has one (/etc/machine-id), so that its runs name one
// device; a random one otherwise.
DeviceID thisDevice();
// The host name, or "this computer".
std::string deviceName();
// A secret file read as the headless restore reads it; a file that gives no secret throws
// std::runtime_error naming it.
std::string readSecret(const std::string& path);
// Unlocks with the secret as a recovery key when it reads as one, else as a passphrase.
Repository::Unlocked unlock(const std::shared_ptr<Destination>& destination, const std::string& secret,
                            const DeviceID& device, Repository::Access access);

}  // namespace wm::tools

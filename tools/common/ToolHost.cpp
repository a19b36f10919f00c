#include "ToolHost.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "core/AppVersion.h"
#include "core/Hex.h"
#include "core/SecretFile.h"
#include "crypto/RecoveryKey.h"
#include "crypto/SecureRandom.h"

namespace wm::tools {

std::int64_t parseNumber(const std::string& text, const std::string& option) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size()) throw UsageError(option + " needs a number, not \"" + text + "\"");
    return value;
}

DeviceID thisDevice() {
    std::ifstream in("/etc/machine-id");
    std::string text;
    if (in >> text) {
        if (auto bytes = Hex::decode(text)) {
            if (auto id = DeviceID::fromBytes(*bytes)) return *id;
        }
    }
    DeviceID id;
    SecureRandom::fill(id.bytes);
    return id;
}

std::string deviceName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this computer";
    return name;
}

std::string readSecret(const std::string& path) {
    const auto contents = SecretFile::read(path);
    if (!contents.failure) return contents.secret;
    switch (*contents.failure) {
    case SecretFile::Failure::missing: throw std::runtime_error("the secret file " + path + " does not exist");
    case SecretFile::Failure::notRegularFile:
        throw std::runtime_error("the secret file " + path + " is not a regular file");
    case SecretFile::Failure::tooLarge: throw std::runtime_error("the secret file " + path + " is too large");
    case SecretFile::Failure::notUTF8: throw std::runtime_error("the secret file " + path + " is not UTF-8 text");
    case SecretFile::Failure::unreadable: break;
    }
    throw std::runtime_error("cannot read the secret file " + path);
}

Repository::Unlocked unlock(const std::shared_ptr<Destination>& destination, const std::string& secret,
                            const DeviceID& device, Repository::Access access) {
    std::optional<RecoveryKey> recoveryKey;
    try {
        recoveryKey = RecoveryKey::parse(secret);
    } catch (const RecoveryKeyError&) {
        // Not a recovery key: a passphrase.
    }
    if (recoveryKey)
        return Repository::unlock(destination, *recoveryKey, device, std::string(appVersion), std::nullopt, access);
    return Repository::unlock(destination, secret, device, std::string(appVersion), std::nullopt, access);
}

}  // namespace wm::tools

// Arbitrary bytes as a device backup's Info.plist and Status.plist, read the way a
// backup run reads the phone backups folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "policy/PhoneBackupInProgress.h"
#include "policy/PhoneBackups.h"

namespace {

struct OneFile final : wm::FileManager {
    std::string bytes;
    bool isDirectory(const std::string&) const override { return true; }
    std::optional<std::vector<std::string>> contents(const std::string&) const override {
        return std::vector<std::string>{"device"};
    }
    std::optional<std::string> regularFileContents(const std::string&, std::size_t maxBytes) const override {
        if (bytes.size() > maxBytes) return std::nullopt;
        return bytes;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    OneFile files;
    files.bytes.assign(reinterpret_cast<const char*>(data), size);
    const auto state = wm::PhoneBackups::state("/home", files);
    if (state.kind != wm::PhoneBackups::State::Kind::found || state.backups.size() != 1) std::abort();
    const auto& backup = state.backups.front();
    (void)backup.title();
    (void)wm::PhoneBackups::stale(state.backups, wm::Date::fromSeconds(2e9));
    wm::PhoneBackupInProgress progress("/home", files);
    if (progress.shouldSkip({"device", "f"}, progress.root) != backup.inProgress) std::abort();
    return 0;
}

// The secret file's text under libFuzzer: trimming and the recovery-key reading that the
// headless restore applies to whatever bytes the file holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/TextTrimming.h"
#include "core/Unicode.h"
#include "crypto/RecoveryKey.h"

namespace {
void check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!wm::Unicode::isValidUTF8(wm::ByteView(data, size))) return 0;  // such a file reads as empty
    const std::string trimmed = wm::TextTrimming::whitespaceAndNewlines(text);
    check(trimmed.size() <= text.size());
    check(wm::TextTrimming::whitespaceAndNewlines(trimmed) == trimmed);
    const std::string horizontal = wm::TextTrimming::horizontal(text);
    check(horizontal.size() <= text.size());
    try {
        const auto key = wm::RecoveryKey::parse(trimmed);
        check(wm::RecoveryKey::parse(key.text()).text() == key.text());
    } catch (const wm::Error&) {
    }
    return 0;
}

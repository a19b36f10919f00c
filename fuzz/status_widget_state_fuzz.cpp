// The widget-state file under libFuzzer: arbitrary bytes either decode or are refused
// with the decoding error, and whatever decodes encodes to a file that decodes the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/RepositoryJSON.h"
#include "status/WidgetState.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    wm::WidgetState state;
    try {
        state = wm::WidgetState::decode(wm::ByteView(data, size));
    } catch (const wm::RepositoryJSON::DecodingError&) {
        return 0;
    }
    const wm::WidgetState again = wm::WidgetState::decode(wm::WidgetState::encode(state));
    if (!(again == state)) std::abort();
    (void)state.stalenessNote(wm::Date::fromSeconds(1'796'000'000));
    return 0;
}

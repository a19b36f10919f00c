// A bucket's object-lock document under libFuzzer: any bytes give one of the four states,
// a retention only with a mode, and a sentence exactly when the lock is on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "policy/ObjectLock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto lock = wm::ObjectLock::parse(wm::ByteView(data, size));
    const bool withDays =
        lock.kind == wm::ObjectLock::Kind::compliance || lock.kind == wm::ObjectLock::Kind::governance;
    if (lock.days().has_value() != withDays) std::abort();
    if (lock.sentence().has_value() != (lock.kind != wm::ObjectLock::Kind::off)) std::abort();
    return 0;
}

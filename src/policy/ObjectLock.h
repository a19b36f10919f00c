#pragma once
// A bucket's object-lock settings, read from the configuration document an object store
// returns for it, reduced to four states and worded for the person. The document is
// remote text and is read as such: any bytes give an answer.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Bytes.h"

namespace wm {

struct ObjectLock {
    enum class Kind { compliance, governance, enabledWithoutDefault, off };
    Kind kind = Kind::off;
    std::int64_t retentionDays = 0;  // compliance and governance only

    static ObjectLock compliance(std::int64_t days) { return {Kind::compliance, days}; }
    static ObjectLock governance(std::int64_t days) { return {Kind::governance, days}; }
    static ObjectLock enabledWithoutDefault() { return {Kind::enabledWithoutDefault, 0}; }
    static ObjectLock off() { return {}; }

    // Lock-enabled when the text "ObjectLockEnabled" occurs anywhere; the default retention
    // comes from the first <Days>, else the first <Years> (365 days each), and its mode from
    // the first <Mode>. Years whose days would not fit 64 bits give enabledWithoutDefault.
    static ObjectLock parse(ByteView document);

    std::optional<std::int64_t> days() const;
    std::optional<std::string> sentence() const;  // absent for off

    friend bool operator==(const ObjectLock& a, const ObjectLock& b) {
        return a.kind == b.kind && (a.days() == b.days());
    }
};

}  // namespace wm

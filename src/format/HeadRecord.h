#pragma once
// The head record at refs/head: every snapshot of the repository in commit order, with a
// counter that grows by one at every rewrite. A reader that remembers the counter it saw
// last can tell whether the repository moved forward, stayed, or went backwards (an older
// head file put back, which opens and verifies like any other).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Date.h"
#include "core/Error.h"
#include "core/Identifiers.h"
#include "core/RepositoryJSON.h"

namespace wm {

struct HeadVerdict {
    enum class Kind { advanced, unchanged, rollbackSuspected };
    Kind kind = Kind::advanced;
    std::uint64_t from = 0;        // advanced: the remembered counter (0 when none)
    std::uint64_t to = 0;          // advanced: the counter found
    std::uint64_t counter = 0;     // unchanged
    std::uint64_t seen = 0;        // rollbackSuspected: the counter found
    std::uint64_t remembered = 0;  // rollbackSuspected: the larger counter remembered

    static HeadVerdict advanced(std::uint64_t from, std::uint64_t to) { return {Kind::advanced, from, to, 0, 0, 0}; }
    static HeadVerdict unchanged(std::uint64_t c) { return {Kind::unchanged, 0, 0, c, 0, 0}; }
    static HeadVerdict rollbackSuspected(std::uint64_t seen, std::uint64_t remembered) {
        return {Kind::rollbackSuspected, 0, 0, 0, seen, remembered};
    }
    bool isSuspicious() const { return kind == Kind::rollbackSuspected; }
    std::string description() const;
    friend bool operator==(const HeadVerdict&, const HeadVerdict&) = default;
};

struct HeadRecord {
    class Error : public wm::Error {
    public:
        enum class Kind { counterExhausted };
        // The counter already holds its largest value and cannot grow again.
        static Error counterExhausted();
        Kind kind;

    private:
        Error(Kind k, const std::string& description) : wm::Error(description), kind(k) {}
    };

    std::int64_t v = 2;
    std::uint64_t counter = 0;
    std::vector<UUID> snapshots;  // oldest commit first
    Date updatedAt;
    Bytes writerDeviceID;  // the raw 16 bytes of the writing device

    HeadRecord(std::uint64_t counter, std::vector<UUID> snapshots, Date updatedAt, Bytes writerDeviceID);

    HeadVerdict compare(std::optional<std::uint64_t> remembered) const;

    // The head that follows this one: counter + 1 and the given contents. A counter that
    // would pass its maximum is refused with Error::counterExhausted, never wrapped.
    HeadRecord successor(std::vector<UUID> snapshots, Date updatedAt, Bytes writerDeviceID) const;

    JSON toJSON() const;
    static HeadRecord fromJSON(const JSON& json);

    friend bool operator==(const HeadRecord&, const HeadRecord&) = default;
};

}  // namespace wm

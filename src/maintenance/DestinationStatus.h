#pragma once
// How another destination stands against a primary repository.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Date.h"
#include "core/Identifiers.h"

namespace wm {

struct DestinationStatus {
    enum class Kind {
        foreign,       // found: the other repository's identifier
        current,       // snapshots: the copy's distinct snapshots
        behind,        // snapshots: how many it lacks; bytesPending: pack bytes still to copy
        ahead,         // snapshots: how many it has that the primary does not
        notReachable,  // reason
        unreadable,    // reason
        empty,         // no repository there
    };
    Kind kind = Kind::empty;
    RepositoryID found;
    std::int64_t snapshots = 0;
    std::int64_t bytesPending = 0;
    std::optional<Date> lastSnapshotAt;  // current, behind: the creation of the copy's last listed snapshot
    std::string reason;

    static DestinationStatus foreignRepository(const RepositoryID& found) {
        return {Kind::foreign, found, 0, 0, {}, {}};
    }
    static DestinationStatus current(std::int64_t snapshots, std::optional<Date> last) {
        return {Kind::current, {}, snapshots, 0, last, {}};
    }
    static DestinationStatus behind(std::int64_t snapshots, std::int64_t bytes, std::optional<Date> last) {
        return {Kind::behind, {}, snapshots, bytes, last, {}};
    }
    static DestinationStatus ahead(std::int64_t snapshots) { return {Kind::ahead, {}, snapshots, 0, {}, {}}; }
    static DestinationStatus notReachable(std::string reason) {
        return {Kind::notReachable, {}, 0, 0, {}, std::move(reason)};
    }
    static DestinationStatus unreadable(std::string reason) {
        return {Kind::unreadable, {}, 0, 0, {}, std::move(reason)};
    }
    static DestinationStatus empty() { return {}; }

    // Everything but a current copy wants someone's attention.
    bool needsAttention() const { return kind != Kind::current; }
    friend bool operator==(const DestinationStatus&, const DestinationStatus&) = default;
};

}  // namespace wm

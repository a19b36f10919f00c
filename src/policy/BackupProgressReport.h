#pragma once
// What a running backup has done so far, and the short progress line and reading speed
// shown under it. The caller passes the current time.
#include <cstdint>
#include <optional>
#include <string>

#include "core/Date.h"

namespace wm {

struct BackupProgressReport {
    std::uint64_t filesSeen = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesStored = 0;  // newly written: data not already stored
    std::optional<std::string> currentPath;
    Date startedAt;

    // "1,204 files, 3.2 GB stored, 75s": the count, then what was stored (or that nothing
    // new was), then the whole seconds from 3 seconds on.
    std::string sentence(Date asOf) const;
    // "12 MB/s" from one second on, while anything was read; absent otherwise.
    std::optional<std::string> rate(Date asOf) const;

    friend bool operator==(const BackupProgressReport&, const BackupProgressReport&) = default;
};

}  // namespace wm

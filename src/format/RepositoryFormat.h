#pragma once
// Every fixed number of the repository format: format label and versions, chunk and
// pack sizes, the pack file's magics and frame sizes, pruning and lock timings.
#include <array>
#include <cstdint>
#include <string_view>

namespace wm::RepositoryFormat {

// A closed range of format versions.
struct VersionRange {
    std::int64_t lowerBound;
    std::int64_t upperBound;
    constexpr bool contains(std::int64_t v) const { return v >= lowerBound && v <= upperBound; }
    friend constexpr bool operator==(const VersionRange&, const VersionRange&) = default;
};

inline constexpr std::string_view magic = "wendlemarsh-repository";
// Written into a new repository's config.
inline constexpr std::int64_t version = 2;
// Opened by this code; anything outside is refused by the config decoder.
inline constexpr VersionRange supportedVersions{1, 2};

inline constexpr std::int64_t packTargetBytes = 67108864;    // 64 MiB
inline constexpr std::int64_t packMaximumBytes = 268435456;  // 256 MiB
inline constexpr std::int64_t chunkMinBytes = 524288;        // 512 KiB
inline constexpr std::int64_t chunkAvgBytes = 1048576;       // 1 MiB
inline constexpr std::int64_t chunkMaxBytes = 4194304;       // 4 MiB

// Far more than the format ever writes into one small file: a larger one is damaged and
// refused before it is read.
inline constexpr std::int64_t configMaximumBytes = 65536;           // 64 KiB
inline constexpr std::int64_t keyFileMaximumBytes = 65536;          // 64 KiB
inline constexpr std::int64_t lockFileMaximumBytes = 65536;         // 64 KiB: the writing lock
inline constexpr std::int64_t signedRecordMaximumBytes = 16777216;  // 16 MiB: head, snapshot records

inline constexpr double pruneMinimumPackAge = 604800.0;  // 7 days, seconds
inline constexpr double pruneCoolingPeriod = 604800.0;   // 7 days, seconds
inline constexpr double lockRefreshInterval = 60.0;
inline constexpr double lockStaleAfter = 300.0;

namespace PackFile {
// "WMPK" at the start of every pack file.
inline constexpr std::array<std::uint8_t, 4> magic{'W', 'M', 'P', 'K'};
// "WMPKEND" near its end, before one zero byte.
inline constexpr std::array<std::uint8_t, 7> endMagic{'W', 'M', 'P', 'K', 'E', 'N', 'D'};
inline constexpr std::int64_t headerBytes = 8;
inline constexpr std::int64_t trailerBytes = 12;
}  // namespace PackFile

}  // namespace wm::RepositoryFormat

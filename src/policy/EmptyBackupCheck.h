#pragma once
// Before a source's backup is recorded: a source that is not there, or that lost nearly
// all its files since the last backup, is refused, so the newest backup is never an
// empty one made by accident.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wm::EmptyBackupCheck {

// A previous backup with fewer files than this is never judged.
inline constexpr std::uint64_t smallestMeaningfulSet = 50;
// The share of the previous files that must be gone.
inline constexpr double vanishedShare = 0.9;

struct Verdict {
    enum class Kind : std::uint8_t { suspiciouslyEmpty, sourceMissing, proceed };
    Kind kind = Kind::proceed;
    std::uint64_t was = 0;  // suspiciouslyEmpty: files at the last backup
    std::uint64_t now = 0;  // suspiciouslyEmpty: files found now
    std::string path;       // sourceMissing

    static Verdict suspiciouslyEmpty(std::uint64_t was, std::uint64_t now) {
        return {Kind::suspiciouslyEmpty, was, now, {}};
    }
    static Verdict sourceMissing(std::string path) { return {Kind::sourceMissing, 0, 0, std::move(path)}; }
    static Verdict proceed() { return {}; }

    bool shouldRefuse() const { return kind != Kind::proceed; }
    // source: the source's display name. Both are absent for proceed.
    std::optional<std::string> shortReason(std::string_view source) const;
    std::optional<std::string> sentence(std::string_view source) const;

    friend bool operator==(const Verdict&, const Verdict&) = default;
};

Verdict look(std::optional<std::uint64_t> previousFileCount, std::uint64_t currentFileCount, bool sourceExists,
             std::string_view path);

}  // namespace wm::EmptyBackupCheck

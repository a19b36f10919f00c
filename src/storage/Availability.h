#pragma once
// Whether a destination can be reached right now.
#include <optional>
#include <string>

namespace wm {

struct Availability {
    enum class Case { notMounted, unreachable, available, permissionRequired };
    Case case_ = Case::available;
    std::optional<std::string> volumeName;  // notMounted
    std::string reason;                     // unreachable

    static Availability notMounted(std::optional<std::string> volumeName) {
        return {Case::notMounted, std::move(volumeName), {}};
    }
    static Availability unreachable(std::string reason) { return {Case::unreachable, {}, std::move(reason)}; }
    static Availability available() { return {Case::available, std::nullopt, {}}; }
    static Availability permissionRequired() { return {Case::permissionRequired, std::nullopt, {}}; }

    bool isAvailable() const { return case_ == Case::available; }
    // "available", "notMounted(volumeName: Backup)", "unreachable(reason: ...)".
    std::string description() const;

    friend bool operator==(const Availability&, const Availability&) = default;
};

}  // namespace wm

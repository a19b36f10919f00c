#pragma once
// Where the application runs from, told from its own bundle path: scheduled backups need
// it in an ordinary folder, not a relocated temporary copy or a disk image.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wm {

class AppLocation {
public:
    enum Case : std::uint8_t { installed, temporaryCopy, diskImage };

    constexpr AppLocation(Case c) : case_(c) {}
    constexpr operator Case() const { return case_; }

    static AppLocation of(std::string_view bundlePath);
    bool canOpenAtLogin() const { return case_ == installed; }
    // Asks the user to move the app; absent when it is installed.
    std::optional<std::string> sentence() const;

private:
    Case case_;
};

}  // namespace wm

#pragma once
// The fixed wording that tells a person how to get a whole computer's files back from a
// backup: five steps, what comes back and what does not, and a part for readers who use
// the stand-alone reader tool instead of the application. Texts are localised (format
// module's text domain) with the English as key and fallback; each list is built once.
#include <string>
#include <vector>

namespace wm::RecoveryGuide {

struct Step {
    int number = 0;
    std::string title;
    std::string detail;
    bool isApple = false;  // carried out with the operating system's own software
    int id() const { return number; }
    friend bool operator==(const Step&, const Step&) = default;
};

// Deployment values quoted by the guide and the drive read-me.
inline constexpr const char* productWebSite = "https://wendlemarsh.example";
inline constexpr const char* toolsDownloadAddress = "https://wendlemarsh.example/download";
inline constexpr const char* formatDocumentAddress = "https://wendlemarsh.example/format";

const std::vector<Step>& steps();
const std::vector<std::string>& comesBack();
const std::vector<std::string>& doesNotComeBack();

namespace WithoutTheApp {

struct Command {
    std::string invocation;  // shown as typed, never translated
    std::string what;
    friend bool operator==(const Command&, const Command&) = default;
};

const std::string& title();
const std::vector<std::string>& opening();
const std::vector<Command>& commands();
const std::vector<std::string>& closing();

}  // namespace WithoutTheApp

}  // namespace wm::RecoveryGuide

#include "format/DriveReadMe.h"

#include <chrono>
#include <memory>
#include <vector>

#include "core/Unicode.h"
#include "format/FormatDocument.h"
#include "format/RecoveryGuide.h"

namespace wm::DriveReadMe {

namespace {

constexpr std::size_t kLineWidth = 70;

bool isSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool onlyWhiteSpace(const std::string& s) {
    for (unsigned char c : s)
        if (!isSpace(c)) return false;
    return true;
}

std::vector<std::string_view> words(std::string_view text) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(static_cast<unsigned char>(text[i]))) ++i;
        const std::size_t start = i;
        while (i < text.size() && !isSpace(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start) out.push_back(text.substr(start, i - start));
    }
    return out;
}

}  // namespace

bool isOwnFile(std::string_view line, std::int64_t size, ByteView opening) {
    if (size == 0) return true;
    const std::string_view text(reinterpret_cast<const char*>(opening.data()), opening.size());
    if (!text.starts_with(line)) return false;
    const std::string_view rest = text.substr(line.size());
    const bool ended = rest.starts_with("\n") || rest.starts_with("\r\n");
    return ended || (rest.empty() && size == static_cast<std::int64_t>(line.size()));
}

std::optional<Bytes> formatDocument() {
    const ByteView doc = embeddedFormatDocument();
    if (doc.empty()) return std::nullopt;
    return Bytes(doc.begin(), doc.end());
}

std::string wrap(std::string_view text, int indent, int hanging) {
    const std::string firstPrefix(static_cast<std::size_t>(std::max(indent, 0)), ' ');
    const std::string nextPrefix(static_cast<std::size_t>(std::max(indent + hanging, 0)), ' ');
    std::vector<std::string> lines;
    std::string current = firstPrefix;
    for (std::string_view word : words(text)) {
        std::string candidate = current;
        if (!candidate.empty() && candidate.back() != ' ') candidate += ' ';
        candidate += word;
        if (Unicode::characterCount(candidate) <= kLineWidth || onlyWhiteSpace(current)) {
            current = std::move(candidate);
        } else {
            lines.push_back(std::move(current));
            current = nextPrefix + std::string(word);
        }
    }
    if (!onlyWhiteSpace(current)) lines.push_back(std::move(current));
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += '\n';
        out += lines[i];
    }
    return out;
}

std::string stamp(Date date) {
    using namespace std::chrono;
    static const char* const months[] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};
    const sys_days day = floor<days>(sys_time<microseconds>(microseconds(date.microseconds)));
    const year_month_day ymd(day);
    const unsigned d = ymd.day().ok() ? static_cast<unsigned>(ymd.day()) : 1;
    const unsigned m = ymd.month().ok() ? static_cast<unsigned>(ymd.month()) : 1;
    const int y = ymd.year().ok() ? static_cast<int>(ymd.year()) : 0;
    return std::to_string(d) + " " + months[m - 1] + " " + std::to_string(y);
}

std::string text(Date now, std::string_view version) {
    std::vector<std::string> lines;
    auto blank = [&] { lines.emplace_back(); };
    auto heading = [&](std::string_view title, char rule) {
        lines.emplace_back(title);
        lines.emplace_back(title.size(), rule);
        blank();
    };

    heading(firstLine, '=');
    lines.push_back(
        wrap("This drive holds a backup of somebody's files. Everything in it is encrypted. Reading it "
             "needs the passphrase chosen when the backup was made, or the recovery key written down "
             "at the same time.",
             0, 0));
    blank();
    lines.push_back(
        wrap("Neither of those is on this drive, and neither is held by anybody else. Without one of "
             "them nothing here can be opened, by anyone.",
             0, 0));
    blank();

    heading("GETTING THE FILES BACK", '-');
    for (const auto& step : RecoveryGuide::steps()) {
        lines.push_back(wrap(std::to_string(step.number) + ". " + step.title, 0, 3));
        lines.push_back(wrap(step.detail, 3, 0));
        blank();
    }

    heading("WHAT COMES BACK", '-');
    for (const auto& entry : RecoveryGuide::comesBack()) lines.push_back(wrap("- " + entry, 0, 2));
    blank();

    heading("WHAT DOES NOT", '-');
    for (const auto& entry : RecoveryGuide::doesNotComeBack()) lines.push_back(wrap("- " + entry, 0, 2));
    blank();

    heading("IF WENDLE MARSH IS GONE", '-');
    lines.push_back(
        wrap("The format this drive uses is published, and a backup can be read from that document "
             "alone by somebody who has never seen the program. Two free tools also read it, need no "
             "license, and make no network request:",
             0, 0));
    blank();
    lines.emplace_back("  Wendle Marsh Restore   one window, puts files back");
    lines.emplace_back("  wmctl                  one file, no installation");
    blank();
    lines.push_back(std::string("  ") + RecoveryGuide::toolsDownloadAddress);
    lines.push_back(std::string("  ") + RecoveryGuide::formatDocumentAddress);
    blank();
    lines.push_back(
        wrap("If those addresses have stopped answering, the format document is already on this "
             "drive, in the file named below. It is written so that somebody who has never seen the "
             "program can read the backup from it alone.",
             0, 0));
    blank();
    lines.push_back("  " + std::string(formatFileName));
    blank();
    lines.emplace_back(70, '-');
    lines.push_back("Written by Wendle Marsh " + std::string(version) + " on " + stamp(now) + ".");
    lines.emplace_back("This file is rewritten by each backup. Editing it changes nothing else.");

    std::string out;
    for (const auto& line : lines) {
        out += line;
        out += '\n';
    }
    return out;
}

}  // namespace wm::DriveReadMe

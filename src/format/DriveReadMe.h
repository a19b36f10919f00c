#pragma once
// The two files kept beside every repository for whoever finds the drive: a plain-text
// read-me saying what the drive holds and how to get the files back, and the full format
// document, which is built into the program.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "core/Date.h"

namespace wm::DriveReadMe {

inline constexpr std::string_view fileName = "Read Me First.txt";
inline constexpr std::string_view formatFileName = "Repository Format.md";

// The first line of each file. It never changes: a file found at either path is this
// system's own (and may be written over) when it is empty or its first line is this one.
inline constexpr std::string_view firstLine = "WENDLE MARSH BACKUP";
inline constexpr std::string_view formatFirstLine = "# Wendle Marsh repository format";

// How many of a file's first bytes isOwnFile needs.
inline constexpr std::int64_t openingBytes = 64;

// Whether a file of `size` bytes that starts with `opening` (its first openingBytes, or all of
// it when shorter) is this system's own: empty, or its first line is `line` (ended by "\n",
// "\r\n" or the end of the file).
bool isOwnFile(std::string_view line, std::int64_t size, ByteView opening);

// The format document's bytes; nothing when the program was built without it.
std::optional<Bytes> formatDocument();

// The whole read-me, ending in one newline; `version` and the UTC date of `now` go in
// the footer.
std::string text(Date now, std::string_view version);

// Word wrap to lines of at most 70 user-perceived characters: the first line starts
// with `indent` spaces, later lines with indent + hanging. A word longer than a line
// stands alone on its own line. Text without words gives "".
std::string wrap(std::string_view text, int indent, int hanging);

// "5 December 2026": day, English month name and year in UTC.
std::string stamp(Date date);

}  // namespace wm::DriveReadMe

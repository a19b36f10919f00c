#pragma once
// Unicode helpers over ICU. Every function takes and returns UTF-8.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"

namespace wm::Unicode {

// Decodes UTF-8, replacing each ill-formed sequence with U+FFFD.
std::string decodeUTF8Repairing(ByteView bytes);
inline std::string decodeUTF8Repairing(std::string_view text) { return decodeUTF8Repairing(viewOf(text)); }
bool isValidUTF8(ByteView bytes);

// The most bytes of a stored name or path shown to a person, in a report's records and
// wherever they are shown: a longer text keeps this many, cut at a character boundary, and
// "…" follows. A backup's names can be tens of kilobytes each, and a restore builds the text
// of every entry it meets.
inline constexpr std::size_t shownTextBytes = 4096;

// decodeUTF8Repairing(bytes) appended to text as far as text then holds at most maxBytes: the
// rest is left out at a character boundary and "…" is appended in its place. Decodes no more
// of the bytes than is shown. Returns false when it cut.
bool appendDecodedUTF8Within(std::string& text, ByteView bytes, std::size_t maxBytes);
// decodeUTF8Repairing(bytes) cut so: at most maxBytes and then "…".
std::string decodeUTF8RepairingWithin(ByteView bytes, std::size_t maxBytes);

// The user-perceived characters (extended grapheme clusters) of UTF-8 text, in order, each as
// a view into the text: "e" followed by a combining accent is one character. Should ICU fail,
// each byte is its own character.
void forEachCharacter(std::string_view text, const std::function<void(std::string_view)>& visit);
// How many there are; plain ASCII is counted without ICU.
std::size_t characterCount(std::string_view text);
// Each of them as its own text, after ill-formed sequences are repaired to U+FFFD.
std::vector<std::string> characters(std::string_view text);

// Canonical composition (NFC), ill-formed sequences repaired to U+FFFD first.
std::string nfc(std::string_view text);

// The form in which names are compared: each well-formed stretch composed (NFC), every byte
// of an ill-formed sequence kept as it is. A file name may be any bytes, and repairing them
// would make different names one; "é" precomposed and "e" with a combining accent stay one.
std::string canonicalName(std::string_view text);
// True when canonicalName(text) is the text itself (plain ASCII, or already composed).
bool isCanonicalName(std::string_view text);
// canonicalName(a) == canonicalName(b).
bool canonicallyEqual(std::string_view a, std::string_view b);

// Case- and diacritic-insensitive containment (no locale): "Resume" is found in "my RÉSUMÉ.pdf".
// An empty needle (or one of combining marks only) is found nowhere.
bool containsInsensitive(std::string_view haystack, std::string_view needle);

// The order of the system's file browser: ICU collation of the process locale with
// numeric collation ("file2" before "file10"), ties broken by code-point order.
// Returns <0, 0 or >0.
int localizedStandardCompare(std::string_view a, std::string_view b);

}  // namespace wm::Unicode

#pragma once
// Byte counts in the style of a file browser: decimal units (1 KB = 1,000 bytes),
// "1 byte", "999 bytes", "1 KB", "1.2 MB", "12 MB", "1.23 GB". Bytes and KB show no
// fraction, MB one digit, GB and larger two; trailing zeros are dropped and a value
// that rounds up to 1,000 of one unit is written in the next ("1 MB", not "1,000 KB").
// Numbers follow the process locale; the unit words are translatable.
#include <cstdint>
#include <string>

namespace wm::ByteCountFormatter {

// Counts above the largest signed 64-bit value are written as that value.
std::string string(std::uint64_t byteCount);

// The same with an explicit ICU locale for the digits ("en_US", "de_DE").
std::string string(std::uint64_t byteCount, const std::string& locale);

}  // namespace wm::ByteCountFormatter

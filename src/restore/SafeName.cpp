#include "restore/SafeName.h"

#include <algorithm>

#include "core/Unicode.h"
#include "restore/PathSafetyViolation.h"

namespace wm {

SafeName::SafeName(ByteView bytes) {
    if (bytes.empty()) throw PathSafetyViolation::emptyName();
    if (bytes[0] == '/') throw PathSafetyViolation::absolutePath();
    if (std::find(bytes.begin(), bytes.end(), 0) != bytes.end()) throw PathSafetyViolation::nulByteInName();
    if (std::find(bytes.begin(), bytes.end(), '/') != bytes.end()) throw PathSafetyViolation::pathSeparatorInName();
    if (bytes.size() == 1 && bytes[0] == '.') throw PathSafetyViolation::reservedName(".");
    if (bytes.size() == 2 && bytes[0] == '.' && bytes[1] == '.') throw PathSafetyViolation::reservedName("..");
    raw_.assign(bytes.begin(), bytes.end());
}

SafeName::SafeName(std::string_view text) : SafeName(viewOf(text)) {}

std::string SafeName::description() const {
    return Unicode::decodeUTF8RepairingWithin(bytes(), Unicode::shownTextBytes);
}

}  // namespace wm

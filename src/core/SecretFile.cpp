#include "core/SecretFile.h"

#include "core/RegularFile.h"
#include "core/TextTrimming.h"
#include "core/Unicode.h"

namespace wm::SecretFile {

Contents read(const std::string& path) {
    const RegularFile::Contents file = RegularFile::read(path, limit);
    if (file.failure) {
        switch (*file.failure) {
        case RegularFile::Failure::missing: return Contents{"", Failure::missing, file.errorNumber};
        case RegularFile::Failure::unreadable: return Contents{"", Failure::unreadable, file.errorNumber};
        case RegularFile::Failure::notRegularFile: return Contents{"", Failure::notRegularFile, 0};
        case RegularFile::Failure::tooLarge: return Contents{"", Failure::tooLarge, 0};
        }
    }
    if (!Unicode::isValidUTF8(viewOf(file.bytes))) return Contents{"", Failure::notUTF8, 0};
    return Contents{TextTrimming::whitespaceAndNewlines(file.bytes), std::nullopt, 0};
}

}  // namespace wm::SecretFile

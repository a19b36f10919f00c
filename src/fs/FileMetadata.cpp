#include "fs/FileMetadata.h"

#include <cstdio>

namespace wm {

namespace BSDFlags {

std::vector<std::string> names(std::uint32_t flags) {
    static const std::pair<std::uint32_t, const char*> known[] = {
        {userNoDump, "nodump"},       {userImmutable, "uchg"},        {userAppend, "uappnd"},
        {userOpaque, "opaque"},       {userCompressed, "compressed"}, {userTracked, "tracked"},
        {userDataVault, "datavault"}, {userHidden, "hidden"},         {systemArchived, "archived"},
        {systemImmutable, "schg"},    {systemAppend, "sappnd"},       {systemRestricted, "restricted"},
        {systemNoUnlink, "sunlnk"},   {systemFirmlink, "firmlink"},   {systemDataless, "dataless"},
    };
    std::vector<std::string> out;
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t mask = 1u << bit;
        if (!(flags & mask)) continue;
        const char* name = nullptr;
        for (const auto& [m, n] : known) {
            if (m == mask) name = n;
        }
        if (name) {
            out.emplace_back(name);
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "0x%x", mask);
            out.emplace_back(buffer);
        }
    }
    return out;
}

}  // namespace BSDFlags

}  // namespace wm

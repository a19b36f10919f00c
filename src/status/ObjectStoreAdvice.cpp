#include "status/ObjectStoreAdvice.h"

#include "core/Localization.h"

namespace wm::ObjectStoreAdvice {

std::string sentence(std::int64_t status, std::string_view body) {
    if (status == 404) return WM_L("The storage provider has no bucket by that name in that region.");
    if (status != 403) return WM_L("The storage provider answered %lld.", status);
    if (body.find("SignatureDoesNotMatch") != std::string_view::npos)
        return WM_L(
            "The storage provider refused the key. Check the secret key was pasted whole, and that the region "
            "matches the bucket.");
    if (body.find("RequestTimeTooSkewed") != std::string_view::npos)
        return WM_L(
            "The storage provider refused the request because this Mac's clock is too far out. Set the date "
            "and time automatically, then try again.");
    return WM_L("The storage provider refused the key. It may lack permission to write to this bucket.");
}

}  // namespace wm::ObjectStoreAdvice

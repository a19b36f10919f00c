#include "policy/NetworkShare.h"

#include "core/Localization.h"

namespace wm::NetworkShare {

std::string name(Kind kind) {
    switch (kind) {
    case Kind::smb: return "SMB";
    case Kind::afp: return "AFP";
    case Kind::nfs: return "NFS";
    case Kind::unknown: break;
    }
    return WM_L("a network share");
}

std::optional<Kind> kind(std::string_view mountDevice) {
    // Every marker is ASCII, so folding ASCII letters is the whole of the case rule.
    std::string device(mountDevice);
    for (char& c : device)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (device.starts_with("//") || device.starts_with("smb:")) return Kind::smb;
    if (device.starts_with("afp:")) return Kind::afp;
    if (device.find(":/") != std::string::npos && !device.starts_with("/dev/")) return Kind::nfs;
    return std::nullopt;
}

std::string advice(Kind kind) {
    return WM_L(
        "%@ works well as a backup location. Two things are worth knowing: a share that disappears mid backup "
        "leaves a partial write that Wendle Marsh cleans up on the next run, and some servers do not really "
        "flush to disk when asked, so a power cut at the server can lose the most recent moments. Neither is a "
        "reason not to use it, and a second location elsewhere covers both.",
        name(kind));
}

const std::string& slowness() {
    static const std::string text = WM_L(
        "The first backup to a network share takes considerably longer than to a drive plugged in directly. "
        "Later ones only send what changed, so they are much faster.");
    return text;
}

}  // namespace wm::NetworkShare

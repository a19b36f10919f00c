#pragma once
// Network shares as backup destinations: the file-sharing protocol of a mounted volume,
// recognised from its mounted-from device text (on Linux the source field of
// /proc/self/mountinfo: "//server/share" for SMB, "server:/path" for NFS), and the advice
// and speed warning shown for a share.
#include <optional>
#include <string>
#include <string_view>

namespace wm::NetworkShare {

enum class Kind { smb, afp, nfs, unknown };

// "SMB", "AFP", "NFS"; for unknown, "a network share" (lower case, translated).
std::string name(Kind kind);

// The protocol of a device text, case-insensitively: "//" or "smb:" is SMB, "afp:" is AFP,
// any other text with ":/" outside "/dev/" is NFS. Absent for a local device. Never unknown:
// that kind is for callers that know a volume is a share but not its protocol.
std::optional<Kind> kind(std::string_view mountDevice);

std::string advice(Kind kind);

// The warning about the first backup's speed, looked up once.
const std::string& slowness();

}  // namespace wm::NetworkShare

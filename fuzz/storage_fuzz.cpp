// Repository paths built from outside text (names listed from a folder, paths in records):
// whatever the bytes, parsing never crashes, and an accepted path prints back to its text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "storage/RepoPath.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto path = wm::RepoPath::parse(text)) {
        if (path->string() != text) std::abort();
        for (const auto& c : path->components()) {
            if (!wm::RepoPath::isValidComponent(c)) std::abort();
        }
        if (auto again = wm::RepoPath::parse(path->string()); !again || *again != *path) std::abort();
    }
    (void)wm::RepoPath().appending(std::string(text));
    return 0;
}

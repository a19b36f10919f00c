#pragma once
// The folder that holds a copy of a repository, reached only through a descriptor of its
// root: every path below the root is opened one component at a time without following a
// symbolic link, so nothing is read, written or removed through a link inside the copy (a
// "packs" or "keys" that is a link to another folder is refused, not written into). The root
// itself may be reached through a link, as a restore target may.
//
// Durable write as the local-folder destination does it: a new file under the copy's "tmp",
// its data flushed, renamed into place (replacing the entry there, never what a link there
// points at), the folder flushed. Calls from several threads may run at the same time.
#include <filesystem>
#include <memory>

#include "core/SystemCall.h"
#include "storage/Destination.h"

namespace wm {

class CopyFolderDestination final : public Destination {
public:
    // Opens the root; throws DestinationError when it is not a folder that can be opened.
    CopyFolderDestination(DestinationID id, DestinationKind kind, const std::filesystem::path& root);

    // Whether the error is this destination's refusal of a link (its path names the entry).
    static bool isLinkRefusal(const DestinationError& error);

    // The descriptor of the root, for identity checks (device and inode).
    int rootDescriptor() const { return root_.get(); }

    DestinationID id() const override { return id_; }
    DestinationKind kind() const override { return kind_; }
    DestinationCapabilities capabilities() override { return {}; }
    Availability availability() override;
    bool exists(const RepoPath& path) override;
    std::optional<std::int64_t> size(const RepoPath& path) override;
    Bytes read(const RepoPath& path, std::optional<ByteRange> range = std::nullopt) override;
    std::vector<RepoPath> list(const RepoPath& folder) override;
    std::unique_ptr<DurableWriter> openWrite(const RepoPath& path) override;
    void remove(const RepoPath& path) override;
    std::optional<std::int64_t> freeSpace() override;

private:
    // The folder at `folder` below the root, opened without following links. A missing one is
    // made when `create` is set (each new entry flushed), otherwise nothing is returned. A link
    // or a file on the way throws.
    std::optional<UniqueFd> openFolder(const RepoPath& folder, bool create, const RepoPath& forPath) const;
    // The folder holding the path's last component, as openFolder gives it.
    std::optional<UniqueFd> openParent(const RepoPath& path, bool create) const;

    DestinationID id_;
    DestinationKind kind_;
    UniqueFd root_;
};

}  // namespace wm

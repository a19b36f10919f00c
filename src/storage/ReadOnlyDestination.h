#pragma once
// Wraps a destination so that nothing can change it: reads, listings, sizes, existence and
// free space pass through unchanged; openWrite and remove are refused before the wrapped
// destination sees them.
#include <memory>
#include <string>

#include "core/Error.h"
#include "storage/Destination.h"

namespace wm {

class ReadOnlyDestination final : public Destination {
public:
    class Error : public wm::Error {
    public:
        enum class Kind { writeRefused, removeRefused };
        static Error writeRefused(RepoPath path);
        static Error removeRefused(RepoPath path);

        Kind kind;
        RepoPath path;

    private:
        Error(Kind k, RepoPath p, const std::string& description)
            : wm::Error(description), kind(k), path(std::move(p)) {}
    };

    explicit ReadOnlyDestination(std::shared_ptr<Destination> wrapping);

    const std::shared_ptr<Destination>& wrapped() const { return inner_; }

    DestinationID id() const override;
    DestinationKind kind() const override;
    DestinationCapabilities capabilities() override;
    Availability availability() override;
    bool exists(const RepoPath& path) override;
    std::optional<std::int64_t> size(const RepoPath& path) override;
    Bytes read(const RepoPath& path, std::optional<ByteRange> range = std::nullopt) override;
    ObjectOpening opening(const RepoPath& path, std::int64_t count) override { return inner_->opening(path, count); }
    void readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) override;
    std::vector<RepoPath> list(const RepoPath& folder) override;
    std::unique_ptr<DurableWriter> openWrite(const RepoPath& path) override;
    void remove(const RepoPath& path) override;
    std::optional<std::int64_t> freeSpace() override;
    // Removes nothing.
    void discardPendingWrites(const std::function<void()>& /*beforeRemoving*/ = {}) override {}

private:
    std::shared_ptr<Destination> inner_;
};

}  // namespace wm

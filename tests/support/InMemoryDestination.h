#pragma once
// A destination in memory that models durability as a disk does, for power-loss tests. Every
// folder has visible and durable entries (those flushed by a folder sync), every file visible
// and durable bytes (those flushed by a data sync). A durable write follows the local folder's
// protocol: bytes go to a new file in "tmp"; commit() syncs the data, renames the file into place
// and syncs its folder; folders made on the way are synced into their parents. remove() changes
// only the visible entries, like unlink without a folder sync. simulateReset() is losing power
// and starting again: everything goes back to its durable state. cutPowerAtStep(n) stops the
// n-th durable step (counted from the call) by throwing SimulatedCrash, as does every call after
// it until simulateReset().
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "storage/Destination.h"

namespace wm::test {

// Writers it hands out must not outlive it.
class InMemoryDestination final : public Destination {
public:
    // Whether each durable write got as far as syncing its folder, in the order writers were opened.
    struct DurableWriteRecord {
        RepoPath path;
        bool folderSynced = false;
    };

    explicit InMemoryDestination(DestinationID id = DestinationID::random(),
                                 DestinationKind kind = DestinationKind::synthetic());

    // When not available, every operation but availability() throws unavailable.
    void setAvailability(Availability availability);
    // Puts a file in place at once, durable, creating its folders (fixture set-up).
    void put(const RepoPath& path, ByteView contents);
    void put(const RepoPath& path, std::string_view contents);
    // Every visible file with its bytes, keyed by the path's text.
    std::map<std::string, Bytes> files() const;
    std::vector<DurableWriteRecord> durableWrites() const;

    void cutPowerAtStep(std::int64_t n);
    // Loses everything not made durable and turns the power back on. Writers opened before
    // it are dead: their later calls throw SimulatedCrash.
    void simulateReset();

    DestinationID id() const override { return id_; }
    DestinationKind kind() const override { return kind_; }
    DestinationCapabilities capabilities() override;
    Availability availability() override;
    bool exists(const RepoPath& path) override;
    std::optional<std::int64_t> size(const RepoPath& path) override;
    Bytes read(const RepoPath& path, std::optional<ByteRange> range = std::nullopt) override;
    void readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) override;
    std::vector<RepoPath> list(const RepoPath& folder) override;
    std::unique_ptr<DurableWriter> openWrite(const RepoPath& path) override;
    void remove(const RepoPath& path) override;
    std::optional<std::int64_t> freeSpace() override;

    struct Node;  // a file or a folder of the model

private:
    // The durable steps cutPowerAtStep counts, in the order a write takes them.
    enum class Step { createFolder, createTemporary, writeData, syncData, rename, syncFolder, remove };
    class Writer;
    friend class Writer;

    // Throws SimulatedCrash when the power is off and unavailable when the destination is not.
    void checkUsable(const char* operation) const;
    std::unique_lock<std::mutex> lockUsable(const char* operation) const;
    // Counts a durable step; cuts the power when it is the chosen one.
    void step(Step s, const RepoPath& path);
    std::shared_ptr<Node> lookup(const RepoPath& path) const;
    std::shared_ptr<Node> fileAt(const RepoPath& path) const;  // throws unless a file is there
    std::shared_ptr<Node> folderFor(const RepoPath& folder, bool durable);

    mutable std::mutex mutex_;
    DestinationID id_;
    DestinationKind kind_;
    Availability availability_ = Availability::available();
    std::shared_ptr<Node> root_;
    std::vector<DurableWriteRecord> records_;
    std::int64_t steps_ = 0;
    std::optional<std::int64_t> cutAt_;
    bool powerOff_ = false;
    std::uint64_t generation_ = 0;  // bumped by each reset; older writers are dead
};

}  // namespace wm::test

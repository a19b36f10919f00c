#pragma once
// A destination that wraps any other, logs every call and injects the faults its methods
// below name. Patterns are shell globs over the path's text ("packs/*", "index/*.idx"); "*"
// also matches "/". Rules are checked in the order they were added; the first that applies
// wins. Writers it hands out must not outlive it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/Error.h"
#include "storage/Destination.h"
#include "support/SimulatedCrash.h"

namespace wm::test {

class FaultyDestination final : public Destination {
public:
    // openWrite, write, commit and remove are the mutating calls.
    enum class Operation {
        capabilities,
        availability,
        exists,
        size,
        read,
        readInto,
        list,
        openWrite,
        write,
        commit,
        cancel,
        remove,
        freeSpace
    };

    struct Call {
        Operation operation;
        RepoPath path;                   // the root for calls without a path
        std::optional<ByteRange> range;  // read, readInto
        bool failed = false;             // a fault was injected, or the wrapped call threw
    };

    explicit FaultyDestination(std::shared_ptr<Destination> wrapping);

    // The n-th mutating call from now (1 = the next) throws error instead of running.
    void failMutation(std::int64_t n, DestinationError error);
    // Calls of the given operations (all operations when empty) on matching paths throw
    // error; times limits how often (nothing: always).
    void failCalls(std::string pathPattern, DestinationError error, std::set<Operation> operations = {},
                   std::optional<int> times = std::nullopt);
    // Reads of matching paths return bytes whose bit bitIndex (counted from the start of the
    // object: byte bitIndex / 8, bit bitIndex % 8) is flipped.
    void flipBitOnRead(std::string pathPattern, std::int64_t bitIndex);
    // remove() of matching paths throws what a destination with storage-side retention
    // throws for an object it must keep (a wm::Error, not a DestinationError, whose text
    // says "retention expires") and removes nothing.
    void refuseRemovalUntilRetentionExpires(std::string pathPattern);
    // From the n-th mutating call from now on, every call throws SimulatedCrash.
    void crashAtMutation(std::int64_t n);
    // Just before the n-th mutating call from now runs, calls body once (on the caller's
    // thread, outside this destination's lock): another writer's step put exactly there.
    void pauseAtMutation(std::int64_t n, std::function<void()> body);
    // Drops every fault rule and the crash state; the log stays.
    void clearFaults();

    std::vector<Call> calls() const;
    std::int64_t mutatingCallCount() const;
    void clearLog();

    DestinationID id() const override;
    DestinationKind kind() const override;
    DestinationCapabilities capabilities() override;
    Availability availability() override;
    bool exists(const RepoPath& path) override;
    std::optional<std::int64_t> size(const RepoPath& path) override;
    Bytes read(const RepoPath& path, std::optional<ByteRange> range = std::nullopt) override;
    ObjectOpening opening(const RepoPath& path, std::int64_t count) override;
    void readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) override;
    std::vector<RepoPath> list(const RepoPath& folder) override;
    std::unique_ptr<DurableWriter> openWrite(const RepoPath& path) override;
    void remove(const RepoPath& path) override;
    std::optional<std::int64_t> freeSpace() override;

private:
    class Writer;
    friend class Writer;

    struct PathRule {
        std::string pattern;
        std::set<Operation> operations;
        std::optional<DestinationError> error;
        std::optional<int> remaining;
        bool retentionRefusal = false;
    };
    struct BitFlip {
        std::string pattern;
        std::int64_t bitIndex;
    };

    // Logs the call and throws what the fault rules say; returns the log index.
    std::size_t before(Operation op, const RepoPath& path, std::optional<ByteRange> range = std::nullopt);
    // Runs call after before(); a throw from the wrapped destination is logged as failed.
    template <class F>
    auto forward(Operation op, const RepoPath& path, std::optional<ByteRange> range, F call) {
        const std::size_t index = before(op, path, range);
        try {
            return call();
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (index < log_.size()) log_[index].failed = true;
            throw;
        }
    }
    void corrupt(const RepoPath& path, std::int64_t objectOffset, std::span<std::uint8_t> bytes) const;

    std::shared_ptr<Destination> inner_;
    mutable std::mutex mutex_;
    std::vector<Call> log_;
    std::int64_t mutations_ = 0;
    std::vector<std::pair<std::int64_t, DestinationError>> nthFailures_;  // absolute mutation numbers
    std::vector<PathRule> rules_;
    std::vector<BitFlip> flips_;
    std::optional<std::int64_t> crashAt_;                                 // absolute mutation number
    std::vector<std::pair<std::int64_t, std::function<void()>>> pauses_;  // absolute mutation numbers
    bool crashed_ = false;
};

}  // namespace wm::test

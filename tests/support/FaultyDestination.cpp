#include "support/FaultyDestination.h"

#include <fnmatch.h>

#include <algorithm>
#include <utility>

namespace wm::test {

namespace {

bool matches(const std::string& pattern, const RepoPath& path) {
    return ::fnmatch(pattern.c_str(), path.string().c_str(), 0) == 0;
}

std::string describe(FaultyDestination::Operation op, const RepoPath& path) {
    static const char* const names[] = {"capabilities", "availability", "exists",    "size",  "read",
                                        "readInto",     "list",         "openWrite", "write", "commit",
                                        "cancel",       "remove",       "freeSpace"};
    return names[static_cast<int>(op)] + (" " + path.string());
}

}  // namespace

class FaultyDestination::Writer final : public DurableWriter {
public:
    Writer(FaultyDestination& owner, RepoPath path, std::unique_ptr<DurableWriter> inner)
        : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}

    // A write that failed, injected or not, leaves the pending object short of its bytes;
    // like a real writer, this one is finished then and refuses to commit.
    void write(ByteView bytes) override {
        const bool earlierFailed = std::exchange(failed_, true);
        owner_.forward(Operation::write, path_, std::nullopt, [&] {
            if (earlierFailed) throw DestinationError::writeFailed(path_, "an earlier write failed");
            inner_->write(bytes);
        });
        failed_ = false;
    }
    void commit() override {
        owner_.forward(Operation::commit, path_, std::nullopt, [&] {
            if (failed_) throw DestinationError::writeFailed(path_, "an earlier write failed");
            inner_->commit();
        });
    }
    void cancel() noexcept override {
        {
            std::lock_guard lock(owner_.mutex_);
            owner_.log_.push_back(Call{Operation::cancel, path_, std::nullopt, false});
            if (owner_.crashed_) return;  // the machine is gone: nothing is cleaned up
        }
        inner_->cancel();
    }

private:
    FaultyDestination& owner_;
    RepoPath path_;
    std::unique_ptr<DurableWriter> inner_;
    bool failed_ = false;
};

FaultyDestination::FaultyDestination(std::shared_ptr<Destination> wrapping) : inner_(std::move(wrapping)) {}

void FaultyDestination::failMutation(std::int64_t n, DestinationError error) {
    std::lock_guard lock(mutex_);
    nthFailures_.emplace_back(mutations_ + n, std::move(error));
}
void FaultyDestination::failCalls(std::string pathPattern, DestinationError error, std::set<Operation> operations,
                                  std::optional<int> times) {
    std::lock_guard lock(mutex_);
    rules_.push_back(PathRule{std::move(pathPattern), std::move(operations), std::move(error), times, false});
}
void FaultyDestination::flipBitOnRead(std::string pathPattern, std::int64_t bitIndex) {
    std::lock_guard lock(mutex_);
    flips_.push_back(BitFlip{std::move(pathPattern), bitIndex});
}
void FaultyDestination::refuseRemovalUntilRetentionExpires(std::string pathPattern) {
    std::lock_guard lock(mutex_);
    rules_.push_back(PathRule{std::move(pathPattern), {Operation::remove}, std::nullopt, std::nullopt, true});
}
void FaultyDestination::crashAtMutation(std::int64_t n) {
    std::lock_guard lock(mutex_);
    crashAt_ = mutations_ + n;
}
void FaultyDestination::pauseAtMutation(std::int64_t n, std::function<void()> body) {
    std::lock_guard lock(mutex_);
    pauses_.emplace_back(mutations_ + n, std::move(body));
}
void FaultyDestination::clearFaults() {
    std::lock_guard lock(mutex_);
    nthFailures_.clear();
    pauses_.clear();
    rules_.clear();
    flips_.clear();
    crashAt_.reset();
    crashed_ = false;
}
std::vector<FaultyDestination::Call> FaultyDestination::calls() const {
    std::lock_guard lock(mutex_);
    return log_;
}
std::int64_t FaultyDestination::mutatingCallCount() const {
    std::lock_guard lock(mutex_);
    return mutations_;
}
void FaultyDestination::clearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

std::size_t FaultyDestination::before(Operation op, const RepoPath& path, std::optional<ByteRange> range) {
    const bool mutating =
        op == Operation::openWrite || op == Operation::write || op == Operation::commit || op == Operation::remove;
    std::function<void()> pause;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(pauses_.begin(), pauses_.end(),
                                     [&](const auto& p) { return mutating && !crashed_ && p.first == mutations_ + 1; });
        if (it != pauses_.end()) {
            pause = std::move(it->second);
            pauses_.erase(it);
        }
    }
    if (pause) pause();
    std::lock_guard lock(mutex_);
    // Logged as failed until it is clear that no fault applies.
    log_.push_back(Call{op, path, range, true});
    const std::size_t index = log_.size() - 1;
    if (crashed_) throw SimulatedCrash{"crashed before " + describe(op, path)};
    if (mutating) {
        const std::int64_t number = ++mutations_;
        if (crashAt_ && number >= *crashAt_) {
            crashed_ = true;
            throw SimulatedCrash{"crash at " + describe(op, path)};
        }
        auto it =
            std::find_if(nthFailures_.begin(), nthFailures_.end(), [&](const auto& f) { return f.first == number; });
        if (it != nthFailures_.end()) {
            DestinationError error = std::move(it->second);
            nthFailures_.erase(it);
            throw error;
        }
    }
    for (auto& rule : rules_) {
        if (!rule.operations.empty() && !rule.operations.count(op)) continue;
        if ((rule.remaining && *rule.remaining <= 0) || !matches(rule.pattern, path)) continue;
        if (rule.remaining) --*rule.remaining;
        if (rule.retentionRefusal)
            throw wm::Error(
                "ObjectLocked: " + path.string() +
                " is under a storage-side retention hold; it cannot be deleted until its retention expires");
        throw *rule.error;
    }
    log_[index].failed = false;
    return index;
}

void FaultyDestination::corrupt(const RepoPath& path, std::int64_t objectOffset, std::span<std::uint8_t> bytes) const {
    std::lock_guard lock(mutex_);
    for (const auto& flip : flips_) {
        if (!matches(flip.pattern, path)) continue;
        const std::int64_t byte = flip.bitIndex / 8 - objectOffset;
        if (byte < 0 || byte >= static_cast<std::int64_t>(bytes.size())) continue;
        bytes[static_cast<std::size_t>(byte)] ^= static_cast<std::uint8_t>(1u << (flip.bitIndex % 8));
    }
}

DestinationID FaultyDestination::id() const { return inner_->id(); }
DestinationKind FaultyDestination::kind() const { return inner_->kind(); }
DestinationCapabilities FaultyDestination::capabilities() {
    return forward(Operation::capabilities, RepoPath(), std::nullopt, [&] { return inner_->capabilities(); });
}
Availability FaultyDestination::availability() {
    // Never throws a destination error: a failing rule shows as an unreachable destination.
    try {
        before(Operation::availability, RepoPath());
    } catch (const DestinationError& e) {
        return Availability::unreachable(e.what());
    }
    return inner_->availability();
}
bool FaultyDestination::exists(const RepoPath& path) {
    return forward(Operation::exists, path, std::nullopt, [&] { return inner_->exists(path); });
}
std::optional<std::int64_t> FaultyDestination::size(const RepoPath& path) {
    return forward(Operation::size, path, std::nullopt, [&] { return inner_->size(path); });
}

Bytes FaultyDestination::read(const RepoPath& path, std::optional<ByteRange> range) {
    return forward(Operation::read, path, range, [&] {
        Bytes bytes = inner_->read(path, range);
        corrupt(path, range ? range->lower : 0, bytes);
        return bytes;
    });
}
ObjectOpening FaultyDestination::opening(const RepoPath& path, std::int64_t count) {
    return forward(Operation::read, path, std::nullopt, [&] { return inner_->opening(path, count); });
}
void FaultyDestination::readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) {
    std::int64_t upper;  // saturated: a hostile offset near the top must not wrap the logged range
    if (__builtin_add_overflow(offset, static_cast<std::int64_t>(out.size()), &upper)) upper = INT64_MAX;
    forward(Operation::readInto, path, ByteRange{offset, upper}, [&] {
        inner_->readInto(path, offset, out);
        corrupt(path, offset, out);
    });
}
std::vector<RepoPath> FaultyDestination::list(const RepoPath& folder) {
    return forward(Operation::list, folder, std::nullopt, [&] { return inner_->list(folder); });
}
std::unique_ptr<DurableWriter> FaultyDestination::openWrite(const RepoPath& path) {
    return forward(Operation::openWrite, path, std::nullopt, [&]() -> std::unique_ptr<DurableWriter> {
        return std::make_unique<Writer>(*this, path, inner_->openWrite(path));
    });
}
void FaultyDestination::remove(const RepoPath& path) {
    forward(Operation::remove, path, std::nullopt, [&] { inner_->remove(path); });
}
std::optional<std::int64_t> FaultyDestination::freeSpace() {
    return forward(Operation::freeSpace, RepoPath(), std::nullopt, [&] { return inner_->freeSpace(); });
}

}  // namespace wm::test

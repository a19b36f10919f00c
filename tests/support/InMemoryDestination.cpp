#include "support/InMemoryDestination.h"

#include <cerrno>
#include <cstring>

#include "core/SystemCall.h"
#include "support/SimulatedCrash.h"

namespace wm::test {

struct InMemoryDestination::Node {
    bool folder = false;
    Bytes data;
    Bytes durableData;
    std::map<std::string, std::shared_ptr<Node>> entries;
    std::map<std::string, std::shared_ptr<Node>> durableEntries;
};

namespace {

using Node = InMemoryDestination::Node;

const char* const stepNames[] = {"createFolder", "createTemporary", "writeData", "syncData",
                                 "rename",       "syncFolder",      "remove"};

std::shared_ptr<Node> makeFolder() { return std::make_shared<Node>(Node{.folder = true}); }

void resetNode(Node& node) {
    node.data = node.durableData;
    node.entries = node.durableEntries;
    for (auto& [name, child] : node.entries) resetNode(*child);
}

// A short read unless the file holds count bytes at offset; formed so that an offset near the
// largest value cannot wrap round.
void requireBytes(const RepoPath& path, const Node& file, std::int64_t offset, std::int64_t count) {
    const auto size = static_cast<std::int64_t>(file.data.size());
    if (offset > size || count > size - offset)
        throw DestinationError::shortRead(path, count, std::max<std::int64_t>(0, std::min(count, size - offset)));
}

void collectFiles(const Node& node, const std::string& prefix, std::map<std::string, Bytes>& out) {
    for (const auto& [name, child] : node.entries) {
        const std::string path = prefix.empty() ? name : prefix + "/" + name;
        if (child->folder)
            collectFiles(*child, path, out);
        else
            out[path] = child->data;
    }
}

}  // namespace

class InMemoryDestination::Writer final : public DurableWriter {
public:
    Writer(InMemoryDestination& owner, RepoPath path, std::string temporaryName, std::shared_ptr<Node> node,
           std::size_t record, std::uint64_t generation)
        : owner_(owner),
          path_(std::move(path)),
          temporaryName_(std::move(temporaryName)),
          node_(std::move(node)),
          record_(record),
          generation_(generation) {}

    void write(ByteView bytes) override {
        std::lock_guard lock(owner_.mutex_);
        checkUnfinished("write");
        owner_.step(Step::writeData, path_);
        node_->data.insert(node_->data.end(), bytes.begin(), bytes.end());
    }
    void commit() override {
        std::lock_guard lock(owner_.mutex_);
        checkUnfinished("commit");
        finished_ = true;  // a failure below leaves the pending file behind in "tmp"
        owner_.step(Step::syncData, path_);
        node_->durableData = node_->data;
        owner_.step(Step::rename, path_);
        auto folder = owner_.lookup(path_.parent());
        if (!folder || !folder->folder) throw DestinationError::notFound(path_);
        auto existing = folder->entries.find(path_.fileName());
        if (existing != folder->entries.end() && existing->second->folder)
            throw DestinationError::renameFailed(path_, systemErrorText(EISDIR));
        if (auto tmp = owner_.lookup(RepoPath() / temporaryFolderName)) tmp->entries.erase(temporaryName_);
        folder->entries[path_.fileName()] = node_;
        owner_.step(Step::syncFolder, path_);
        folder->durableEntries = folder->entries;
        owner_.records_[record_].folderSynced = true;
    }
    void cancel() noexcept override {
        std::lock_guard lock(owner_.mutex_);
        if (finished_ || generation_ != owner_.generation_ || owner_.powerOff_) return;
        finished_ = true;
        if (auto tmp = owner_.lookup(RepoPath() / temporaryFolderName)) tmp->entries.erase(temporaryName_);
    }

private:
    void checkUnfinished(const char* operation) {
        if (generation_ != owner_.generation_)
            throw SimulatedCrash{std::string("writer from before a reset: ") + operation + " " + path_.string()};
        owner_.checkUsable(operation);
        if (finished_) throw DestinationError::writeFailed(path_, "the write is already finished");
    }

    InMemoryDestination& owner_;
    RepoPath path_;
    std::string temporaryName_;
    std::shared_ptr<Node> node_;
    std::size_t record_;
    std::uint64_t generation_;
    bool finished_ = false;
};

InMemoryDestination::InMemoryDestination(DestinationID id, DestinationKind kind)
    : id_(id), kind_(kind), root_(makeFolder()) {}

void InMemoryDestination::setAvailability(Availability availability) {
    std::lock_guard lock(mutex_);
    availability_ = std::move(availability);
}
void InMemoryDestination::put(const RepoPath& path, ByteView contents) {
    std::lock_guard lock(mutex_);
    if (path.isRoot()) throw DestinationError::writeFailed(path, systemErrorText(EISDIR));
    auto folder = folderFor(path.parent(), true);
    if (!folder) throw DestinationError::writeFailed(path, systemErrorText(ENOTDIR));
    Bytes bytes(contents.begin(), contents.end());
    folder->entries[path.fileName()] = folder->durableEntries[path.fileName()] =
        std::make_shared<Node>(Node{.data = bytes, .durableData = bytes});
}
void InMemoryDestination::put(const RepoPath& path, std::string_view contents) { put(path, viewOf(contents)); }

std::map<std::string, Bytes> InMemoryDestination::files() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, Bytes> out;
    collectFiles(*root_, "", out);
    return out;
}
std::vector<InMemoryDestination::DurableWriteRecord> InMemoryDestination::durableWrites() const {
    std::lock_guard lock(mutex_);
    return records_;
}
void InMemoryDestination::cutPowerAtStep(std::int64_t n) {
    std::lock_guard lock(mutex_);
    cutAt_ = steps_ + n;
}
void InMemoryDestination::simulateReset() {
    std::lock_guard lock(mutex_);
    resetNode(*root_);
    powerOff_ = false;
    cutAt_.reset();
    ++generation_;
}

void InMemoryDestination::checkUsable(const char* operation) const {
    if (powerOff_) throw SimulatedCrash{std::string("the power is off: ") + operation};
    if (!availability_.isAvailable()) throw DestinationError::unavailable(id_, availability_);
}
std::unique_lock<std::mutex> InMemoryDestination::lockUsable(const char* operation) const {
    std::unique_lock lock(mutex_);
    checkUsable(operation);
    return lock;
}
void InMemoryDestination::step(Step s, const RepoPath& path) {
    ++steps_;
    if (cutAt_ && steps_ == *cutAt_) {
        powerOff_ = true;
        throw SimulatedCrash{std::string("power cut at ") + stepNames[static_cast<int>(s)] + " of " + path.string()};
    }
}
std::shared_ptr<Node> InMemoryDestination::fileAt(const RepoPath& path) const {
    auto node = lookup(path);
    if (!node) throw DestinationError::notFound(path);
    if (node->folder) throw DestinationError::ioFailed(path, systemErrorText(EISDIR));
    return node;
}
std::shared_ptr<Node> InMemoryDestination::lookup(const RepoPath& path) const {
    std::shared_ptr<Node> node = root_;
    for (const auto& c : path.components()) {
        if (!node->folder) return nullptr;
        auto it = node->entries.find(c);
        if (it == node->entries.end()) return nullptr;
        node = it->second;
    }
    return node;
}

// The folder at path; missing folders are made, each synced into its parent (durable: without
// counting steps, for fixture set-up). Nothing when a file is in the way.
std::shared_ptr<Node> InMemoryDestination::folderFor(const RepoPath& folder, bool durable) {
    std::shared_ptr<Node> node = root_;
    RepoPath walked;
    for (const auto& c : folder.components()) {
        walked = walked / c;
        auto it = node->entries.find(c);
        if (it != node->entries.end()) {
            if (!it->second->folder) return nullptr;
            node = it->second;
            continue;
        }
        if (!durable) step(Step::createFolder, walked);
        auto made = makeFolder();
        node->entries[c] = made;
        node->durableEntries = node->entries;
        node = made;
    }
    return node;
}

DestinationCapabilities InMemoryDestination::capabilities() {
    auto lock = lockUsable("capabilities");
    return {};
}
std::optional<std::int64_t> InMemoryDestination::freeSpace() {
    auto lock = lockUsable("freeSpace");
    return std::nullopt;
}
Availability InMemoryDestination::availability() {
    std::lock_guard lock(mutex_);
    return availability_;
}
bool InMemoryDestination::exists(const RepoPath& path) {
    auto lock = lockUsable("exists");
    return lookup(path) != nullptr;
}
std::optional<std::int64_t> InMemoryDestination::size(const RepoPath& path) {
    auto lock = lockUsable("size");
    auto node = lookup(path);
    if (!node || node->folder) return std::nullopt;
    return static_cast<std::int64_t>(node->data.size());
}
Bytes InMemoryDestination::read(const RepoPath& path, std::optional<ByteRange> range) {
    auto lock = lockUsable("read");
    if (range && (range->lower < 0 || range->upper < range->lower))
        throw DestinationError::ioFailed(path, "invalid byte range");
    const auto node = fileAt(path);
    if (!range) return node->data;
    requireBytes(path, *node, range->lower, range->count());
    return Bytes(node->data.begin() + range->lower, node->data.begin() + range->upper);
}
void InMemoryDestination::readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) {
    auto lock = lockUsable("readInto");
    const auto count = static_cast<std::int64_t>(out.size());
    if (offset < 0) throw DestinationError::ioFailed(path, "invalid byte range");
    const auto node = fileAt(path);
    requireBytes(path, *node, offset, count);
    if (count > 0) std::memcpy(out.data(), node->data.data() + offset, out.size());
}
std::vector<RepoPath> InMemoryDestination::list(const RepoPath& folder) {
    auto lock = lockUsable("list");
    std::vector<RepoPath> out;
    auto node = lookup(folder);
    if (!node) return out;
    if (!node->folder) throw DestinationError::ioFailed(folder, systemErrorText(ENOTDIR));
    for (const auto& [name, child] : node->entries) out.push_back(folder / name);
    return out;
}
std::unique_ptr<DurableWriter> InMemoryDestination::openWrite(const RepoPath& path) {
    auto lock = lockUsable("openWrite");
    if (path.isRoot()) throw DestinationError::writeFailed(path, systemErrorText(EISDIR));
    if (!folderFor(path.parent(), false)) throw DestinationError::writeFailed(path, systemErrorText(ENOTDIR));
    auto tmp = folderFor(RepoPath() / temporaryFolderName, false);
    if (!tmp) throw DestinationError::writeFailed(path, systemErrorText(ENOTDIR));
    step(Step::createTemporary, path);
    std::string name = UUID::random().compactHex();
    auto node = tmp->entries[name] = std::make_shared<Node>();
    records_.push_back(DurableWriteRecord{path});
    return std::make_unique<Writer>(*this, path, name, node, records_.size() - 1, generation_);
}
void InMemoryDestination::remove(const RepoPath& path) {
    auto lock = lockUsable("remove");
    if (path.isRoot()) throw DestinationError::writeFailed(path, systemErrorText(EBUSY));
    auto node = lookup(path);
    if (!node) return;
    if (node->folder && !node->entries.empty()) throw DestinationError::writeFailed(path, systemErrorText(ENOTEMPTY));
    step(Step::remove, path);
    lookup(path.parent())->entries.erase(path.fileName());
}

}  // namespace wm::test

#include "storage/ReadOnlyDestination.h"
#include "core/ErrorDescription.h"

namespace wm {

ReadOnlyDestination::Error ReadOnlyDestination::Error::writeRefused(RepoPath path) {
    std::string d = ErrorDescription("ReadOnlyDestination.Error", "writeRefused").add("", path.string());
    return Error(Kind::writeRefused, std::move(path), d);
}

ReadOnlyDestination::Error ReadOnlyDestination::Error::removeRefused(RepoPath path) {
    std::string d = ErrorDescription("ReadOnlyDestination.Error", "removeRefused").add("", path.string());
    return Error(Kind::removeRefused, std::move(path), d);
}

ReadOnlyDestination::ReadOnlyDestination(std::shared_ptr<Destination> wrapping) : inner_(std::move(wrapping)) {}

DestinationID ReadOnlyDestination::id() const { return inner_->id(); }
DestinationKind ReadOnlyDestination::kind() const { return inner_->kind(); }
DestinationCapabilities ReadOnlyDestination::capabilities() { return inner_->capabilities(); }
Availability ReadOnlyDestination::availability() { return inner_->availability(); }
bool ReadOnlyDestination::exists(const RepoPath& path) { return inner_->exists(path); }
std::optional<std::int64_t> ReadOnlyDestination::size(const RepoPath& path) { return inner_->size(path); }
Bytes ReadOnlyDestination::read(const RepoPath& path, std::optional<ByteRange> range) {
    return inner_->read(path, range);
}
void ReadOnlyDestination::readInto(const RepoPath& path, std::int64_t offset, std::span<std::uint8_t> out) {
    inner_->readInto(path, offset, out);
}
std::vector<RepoPath> ReadOnlyDestination::list(const RepoPath& folder) { return inner_->list(folder); }
std::unique_ptr<DurableWriter> ReadOnlyDestination::openWrite(const RepoPath& path) { throw Error::writeRefused(path); }
void ReadOnlyDestination::remove(const RepoPath& path) { throw Error::removeRefused(path); }
std::optional<std::int64_t> ReadOnlyDestination::freeSpace() { return inner_->freeSpace(); }

}  // namespace wm

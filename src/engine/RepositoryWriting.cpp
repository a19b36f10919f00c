// The whole-file writes every writer of repository files shares, the drive read-me, and the
// small whole-file reads of the config and the signed records, each with its size limit.
#include <exception>
#include <optional>

#include "engine/Repository.h"
#include "format/DriveReadMe.h"
#include "format/HostPlatform.h"
#include "format/RepositoryFormat.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm {

void Repository::write(ByteView data, const RepoPath& path, Destination& destination,
                       const WritingCheck& beforePutting) {
    auto writer = destination.openWrite(path);
    writer->write(data);
    if (beforePutting) {
        try {
            beforePutting();
        } catch (...) {
            writer->cancel();
            throw;
        }
    }
    writer->commit();
}

void Repository::writeReadMe(Destination& destination, std::string_view version, const WritingCheck& beforePutting) {
    // Only ordinary failures are dropped: anything else (the process going down) goes on, and
    // so does what the check throws.
    std::exception_ptr refused;
    const WritingCheck check = [&] {
        if (!beforePutting) return;
        try {
            beforePutting();
        } catch (...) {
            refused = std::current_exception();
            throw;
        }
    };
    const auto put = [&](ByteView data, const RepoPath& path) {
        try {
            write(data, path, destination, check);
        } catch (const std::exception&) {
            if (refused) std::rethrow_exception(refused);
        }
    };
    // What is there now, judged without following a link: a person's own file of that name (or
    // a link, a folder, anything that cannot be read) is left as it is.
    const auto found = [&](const RepoPath& path, std::string_view line) -> std::optional<ObjectOpening> {
        try {
            ObjectOpening there = destination.opening(path, DriveReadMe::openingBytes);
            if (there.kind == ObjectOpening::Kind::nothing) return there;
            if (there.kind == ObjectOpening::Kind::file && DriveReadMe::isOwnFile(line, there.size, there.bytes))
                return there;
        } catch (const std::exception&) {
        }
        return std::nullopt;
    };
    if (found(RepositoryLayout::readMe(), DriveReadMe::firstLine))
        put(bytesOf(DriveReadMe::text(Date::now(), version)), RepositoryLayout::readMe());
    const std::optional<Bytes> document = DriveReadMe::formatDocument();
    if (!document) return;
    const std::optional<ObjectOpening> there = found(RepositoryLayout::formatDoc(), DriveReadMe::formatFirstLine);
    if (!there) return;
    // Of the same size: taken as current.
    if (there->kind == ObjectOpening::Kind::file && there->size == static_cast<std::int64_t>(document->size())) return;
    put(*document, RepositoryLayout::formatDoc());
}

std::string Repository::hostPlatform() { return wm::hostPlatform(); }

Bytes readConfigFile(Destination& destination) {
    std::optional<Bytes> bytes =
        destination.readAtMost(RepositoryLayout::configFile(), RepositoryFormat::configMaximumBytes);
    if (!bytes) throw RepositoryConfig::Error::malformed("size");
    return std::move(*bytes);
}

Bytes readSignedRecord(Destination& destination, const RepoPath& path) {
    std::optional<Bytes> bytes = destination.readAtMost(path, RepositoryFormat::signedRecordMaximumBytes);
    if (!bytes) throw SignedFile::Error::payloadUnreadable();
    return std::move(*bytes);
}

}  // namespace wm

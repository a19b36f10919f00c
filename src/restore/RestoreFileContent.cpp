// Restoring one regular file: create it, give it its recorded size, write each content
// blob into the file's data regions (holes are never written, so they stay holes), then
// apply its metadata on the open descriptor.
//
// Content that does not fill the recorded shape, or goes past it, means the backup is not
// the file it describes, and the file is refused; unless the file changed while it was
// backed up, when what the backup holds is a moment part way through and comes back as it
// is: the recorded size kept, what the content does not reach left as zeros, and content
// past the size or the last data region written on from the recorded size.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <limits>

#include "core/Localization.h"
#include "core/SparseLayout.h"
#include "core/SystemCall.h"
#include "restore/PathSafetyViolation.h"
#include "restore/RestoreCoordinator.h"
#include "restore/RestoreWalk.h"

namespace wm {

namespace {

constexpr std::uint64_t largestOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
// One pwrite never asks for more than this, so its count always fits ssize_t.
constexpr std::size_t largestWrite = std::size_t{1} << 30;

RestoreCoordinator::Error tooLargeForAFile() {
    return RestoreCoordinator::Error::destinationNotUsable(
        WM_L("the backup records a size or position larger than a file can have"));
}

// Writes all of data at offset; a short write goes on with the rest.
void writeAt(int fd, const std::uint8_t* data, std::size_t count, std::uint64_t offset) {
    if (offset > largestOffset || count > largestOffset - offset) throw tooLargeForAFile();
    while (count > 0) {
        const ssize_t n = retryingOnInterrupt(
            [&] { return ::pwrite(fd, data, std::min(count, largestWrite), static_cast<off_t>(offset)); });
        if (n < 0) throw RestoreCoordinator::Error::destinationNotUsable(systemErrorText(errno));
        // Nothing written and no error: retrying could go on for ever.
        if (n == 0)
            throw RestoreCoordinator::Error::destinationNotUsable(WM_L("the disk took none of the bytes written"));
        data += n;
        count -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

RestoreCoordinator::Error contentLongerThanRecorded() {
    return RestoreCoordinator::Error::destinationNotUsable(
        WM_L("the backup holds more content than this file's recorded shape"));
}

}  // namespace

void RestoreCoordinator::restoreFile(const TreeObject::Entry& entry, const std::string& displayText, Walk& walk) {
    // A size that does not fit a file offset is refused before anything is created.
    if (entry.size && *entry.size > largestOffset) throw tooLargeForAFile();

    const bool changedWhileBackedUp = entry.status == TreeObject::Status::unstable;
    const UniqueFd file = walk.root.createFile(walk.path, static_cast<std::uint16_t>(entry.mode & 0777));
    try {
        const std::uint64_t size = entry.size.value_or(0);
        if (size > 0) {
            if (retryingOnInterrupt([&] { return ::ftruncate(file.get(), static_cast<off_t>(size)); }) < 0)
                throw Error::destinationNotUsable(systemErrorText(errno));
        }

        const bool hasHoles = entry.size && entry.sparseRanges && !entry.sparseRanges->empty();
        std::vector<SparseLayout::Region> regions;
        if (hasHoles) regions = SparseLayout::dataRegions(size, *entry.sparseRanges);
        std::size_t regionIndex = 0;
        std::uint64_t writtenInRegion = 0;
        std::uint64_t plainOffset = 0;
        std::uint64_t pastTheShape = size;  // where such a file's content beyond its regions goes on

        if (entry.contentBlobs) {
            Bytes& data = walk.contentBuffer;
            // A single blob gains nothing from being read on another thread.
            if (entry.contentBlobs->size() > 1) walk.source.announce(*entry.contentBlobs);
            for (const BlobID& blob : *entry.contentBlobs) {
                walk.source.blob(blob, data);
                if (!hasHoles) {
                    // Refused before the write: more than the recorded size never reaches the disk.
                    if (!changedWhileBackedUp && entry.size && data.size() > size - plainOffset)
                        throw contentLongerThanRecorded();
                    writeAt(file.get(), data.data(), data.size(), plainOffset);
                    plainOffset += data.size();
                    continue;
                }
                std::size_t consumed = 0;
                while (consumed < data.size()) {
                    if (regionIndex == regions.size()) {
                        if (!changedWhileBackedUp) throw contentLongerThanRecorded();
                        writeAt(file.get(), data.data() + consumed, data.size() - consumed, pastTheShape);
                        pastTheShape += data.size() - consumed;
                        break;
                    }
                    const SparseLayout::Region& region = regions[regionIndex];
                    const std::uint64_t room = region.length - writtenInRegion;
                    const std::size_t n =
                        static_cast<std::size_t>(std::min<std::uint64_t>(room, data.size() - consumed));
                    writeAt(file.get(), data.data() + consumed, n, region.offset + writtenInRegion);
                    consumed += n;
                    writtenInRegion += n;
                    if (writtenInRegion == region.length) {
                        ++regionIndex;
                        writtenInRegion = 0;
                    }
                }
            }
        }
        // Short content would leave zeros where the file had data: the file is not the one
        // recorded, unless it changed while it was backed up.
        const bool shortOfRecorded = hasHoles ? regionIndex < regions.size() : entry.size && plainOffset < size;
        if (shortOfRecorded && !changedWhileBackedUp)
            throw Error::destinationNotUsable(WM_L("the backup holds less content than this file's recorded shape"));
    } catch (...) {
        // Remove the file by its folder and raw name, only if it is still the file
        // opened here; then the descriptor closes.
        walk.root.removeCreatedFile(walk.path, file.get());
        throw;
    }

    if (changedWhileBackedUp)
        walk.result.unpreserved.push_back(
            {displayText, "content",
             WM_L("this file changed while it was backed up, so what came back is a moment part way through")});
    try {
        recordOutcomes(MetadataApply::apply(metadata(entry), file.get(), outcomeBounds()), displayText, walk.result);
    } catch (const std::exception& e) {
        walk.result.unpreserved.push_back({displayText, "metadata", restoreErrorSentence(e)});
    }
}

}  // namespace wm

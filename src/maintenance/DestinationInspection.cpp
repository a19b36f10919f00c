// How another destination stands against the primary: empty, another repository, or a copy
// that is current, behind or ahead. Only reads.
#include "core/Localization.h"
#include "core/WorkerPool.h"
#include "engine/PackStore.h"
#include "engine/Repository.h"
#include "format/HeadRecord.h"
#include "format/IndexRebuild.h"
#include "format/RepositoryConfig.h"
#include "format/RepositoryLayout.h"
#include "format/RepositoryPresentation.h"
#include "format/SignedFile.h"
#include "maintenance/Replicator.h"
#include "maintenance/SnapshotNeeds.h"

namespace wm {

namespace {

// A failure of the primary's own side: never read as the copy being empty or away.
struct PrimaryFailure {
    std::exception_ptr error;
};

std::optional<Date> createdAt(Destination& destination, const UUID& id, const RepositoryKeys& keys,
                              const BlobCipher& cipher) {
    try {
        const auto file = Repository::readSignedRecord(destination, RepositoryLayout::snapshot(SnapshotID{id}));
        return SignedFile::open<SnapshotRecord>(file, keys, cipher).createdAt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::int64_t Replicator::pendingBytes(Destination& destination, const Repository& primary, const BlobCipher& cipher) {
    Destination& primaryDestination = *primary.destination();
    WorkerPool pool(PackStore::sealingWidth(activeProcessorCount()));
    CompactIndex primaryIndex;
    try {
        indexPacks(primaryDestination, primary.cipher(), primaryIndex, {}, nullptr, &pool);
    } catch (const std::exception&) {
        throw PrimaryFailure{std::current_exception()};
    }
    CompactIndex copyIndex;
    try {
        copyIndex = indexCheckedPacks(destination, cipher);
    } catch (const std::exception&) {
        copyIndex = CompactIndex();  // unreadable: every pack counts as still to copy
    }
    const auto present = copyIndex.packs();
    std::int64_t total = 0;
    for (const auto& pack : primaryIndex.packs()) {
        if (present.count(pack) != 0) continue;
        try {
            const auto size = primaryDestination.size(RepositoryLayout::pack(pack));
            if (size && *size > 0 && __builtin_add_overflow(total, *size, &total)) total = INT64_MAX;
        } catch (const std::exception&) {
        }
    }
    return total;
}

DestinationStatus Replicator::inspect(Destination& destination, const Repository& primary, const RepositoryKeys& keys) {
    std::lock_guard running(running_);
    const BlobCipher cipher(keys, BlobCipher::Sealing::nonceFromStoredBytes);
    try {
        if (!destination.exists(RepositoryLayout::configFile())) return DestinationStatus::empty();
        const RepositoryConfig config = RepositoryConfig::decode(Repository::readConfigFile(destination));
        const RepositoryID found = *RepositoryID::fromBytes(config.repositoryID);
        if (found != keys.repositoryID) return DestinationStatus::foreignRepository(found);

        const auto primaryIDs = primary.snapshotIDs();
        if (!destination.exists(RepositoryLayout::head())) {
            return DestinationStatus::behind(static_cast<std::int64_t>(primaryIDs.size()),
                                             pendingBytes(destination, primary, cipher), std::nullopt);
        }
        const HeadRecord head = SignedFile::open<HeadRecord>(
            Repository::readSignedRecord(destination, RepositoryLayout::head()), keys, cipher);
        std::unordered_set<UUID> ours;
        for (const auto& id : primaryIDs) ours.insert(id.value);
        const std::unordered_set<UUID> theirs(head.snapshots.begin(), head.snapshots.end());
        std::int64_t missing = 0;
        std::int64_t extra = 0;
        for (const auto& id : ours) missing += theirs.count(id) == 0 ? 1 : 0;
        for (const auto& id : theirs) extra += ours.count(id) == 0 ? 1 : 0;
        const std::optional<Date> last =
            head.snapshots.empty() ? std::nullopt : createdAt(destination, head.snapshots.back(), keys, cipher);

        if (extra > 0) return DestinationStatus::ahead(extra);
        if (missing > 0) return DestinationStatus::behind(missing, pendingBytes(destination, primary, cipher), last);
        return DestinationStatus::current(static_cast<std::int64_t>(theirs.size()), last);
    } catch (const PrimaryFailure& failure) {
        try {
            std::rethrow_exception(failure.error);
        } catch (const std::exception& error) {
            return DestinationStatus::unreadable(RepositoryPresentation::sentence(error));
        }
    } catch (const DestinationError& error) {
        if (error.kind == DestinationError::Kind::unavailable)
            return DestinationStatus::notReachable(WM_L("not connected"));
        if (error.kind == DestinationError::Kind::notFound) return DestinationStatus::empty();
        return DestinationStatus::unreadable(RepositoryPresentation::sentence(error));
    } catch (const std::exception& error) {
        return DestinationStatus::unreadable(RepositoryPresentation::sentence(error));
    }
}

}  // namespace wm

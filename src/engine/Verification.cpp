#include "engine/Verification.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "core/Localization.h"
#include "crypto/SecureRandom.h"
#include "engine/DamageAttribution.h"
#include "engine/Repository.h"
#include "format/PackFile.h"
#include "format/PackVerification.h"
#include "format/RepositoryLayout.h"
#include "storage/DestinationError.h"

namespace wm {

namespace Verification {

std::size_t packsToRead(const Depth& depth, std::size_t checkable) {
    if (depth.kind == Depth::Kind::deep || checkable <= 1) return checkable;
    const double scaled = static_cast<double>(checkable) * depth.fraction;
    // Compared before any conversion: NaN, infinities and huge values never reach an integer.
    if (std::isnan(scaled) || scaled <= 0) return 1;
    if (scaled >= static_cast<double>(checkable)) return checkable;
    return std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(scaled)), 1, checkable);
}

std::string describe(const std::exception& error) {
    if (const auto* pack = dynamic_cast<const PackFile::Error*>(&error)) {
        switch (pack->kind) {
        case PackFile::Error::Kind::tooSmall: return WM_L("it is shorter than a pack can be");
        case PackFile::Error::Kind::hashMismatch: return WM_L("its contents no longer match its name");
        case PackFile::Error::Kind::badHeader:
        case PackFile::Error::Kind::badTrailer: return WM_L("it is not a pack file any more");
        case PackFile::Error::Kind::directoryLengthOutOfRange:
        case PackFile::Error::Kind::directoryCorrupted: return WM_L("its contents list is damaged");
        default: break;
        }
    }
    if (const auto* destination = dynamic_cast<const DestinationError*>(&error)) {
        if (destination->kind == DestinationError::Kind::notFound) return WM_L("it is missing");
    }
    return error.what();
}

}  // namespace Verification

namespace {

// The packs whose files are on the destination: packs/<folder>/<hex>.pack, the first piece
// of the name 64 hex digits. Listing errors propagate.
std::unordered_set<PackID> presentPacks(Destination& destination) {
    std::unordered_set<PackID> present;
    for (const auto& pack : RepositoryLayout::packPaths(destination)) present.insert(pack.id);
    return present;
}

// Uniform in [0, bound), from the system's secure random source.
std::size_t secureBelow(std::size_t bound) {
    const std::uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    for (;;) {
        std::uint64_t value;
        SecureRandom::fill(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(&value), sizeof value));
        if (value < limit) return static_cast<std::size_t>(value % bound);
    }
}

}  // namespace

Verification::Report verify(const Repository& repository, const Verification::Depth& depth, Date now) {
    using namespace Verification;
    Destination& destination = *repository.destination();
    Report report;
    report.depth = depth;
    report.startedAt = now;

    const std::unordered_set<PackID> expected =
        repository.withIndex([](const CompactIndex& index) { return index.packs(); });
    report.packsTotal = static_cast<std::int64_t>(expected.size());
    const std::unordered_set<PackID> present = presentPacks(destination);

    std::vector<PackID> missing, checkable;
    for (const PackID& pack : expected) (present.count(pack) ? checkable : missing).push_back(pack);
    // Sorted so that a report reads the same on every run (sampling shuffles on its own).
    std::sort(missing.begin(), missing.end());
    std::sort(checkable.begin(), checkable.end());
    for (const PackID& pack : missing) report.damaged.push_back(Damage{pack, WM_L("it is missing"), {}, {}, 0, {}, 0});

    const std::size_t reading = packsToRead(depth, checkable.size());
    if (reading < checkable.size()) {
        // The first `reading` places of a Fisher-Yates shuffle are a uniform sample.
        for (std::size_t i = 0; i < reading; ++i)
            std::swap(checkable[i], checkable[i + secureBelow(checkable.size() - i)]);
        checkable.resize(reading);
    }

    PackVerifier verifier(repository.cipher());
    for (const PackID& pack : checkable) {
        try {
            verifier.check(destination, RepositoryLayout::pack(pack), pack);
        } catch (const std::exception& error) {
            report.damaged.push_back(Damage{pack, describe(error), {}, {}, 0, {}, 0});
        }
        report.bytesRead += verifier.bytesRead();
    }
    report.packsChecked = static_cast<std::int64_t>(checkable.size() + missing.size());

    if (!report.damaged.empty()) report.damaged = attributeDamage(repository, std::move(report.damaged));
    report.finishedAt = Date::now().repositoryPrecision();
    return report;
}

}  // namespace wm

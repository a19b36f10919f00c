#include "engine/HoldRecord.h"

#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm {

namespace {

constexpr std::string_view kUserRequested = "userRequested";
constexpr std::string_view kVerificationFailure = "verificationFailure";
constexpr std::string_view kAnomalyDetected = "anomalyDetected";

void store(Repository& repository, const RetentionHold& hold) {
    const Bytes sealed = SignedFile::seal(HoldRecord(hold), repository.keys(), repository.cipher());
    Repository::write(sealed, RepositoryLayout::hold(hold.id), *repository.destination());
}

}  // namespace

HoldRecord::HoldRecord(const RetentionHold& hold)
    : id(hold.id.value),
      protectsSnapshotsBefore(hold.protectsSnapshotsBefore),
      createdAt(hold.createdAt),
      clearedAt(hold.clearedAt) {
    switch (hold.reason.kind) {
    case HoldReason::Kind::userRequested:
        reason = kUserRequested;
        note = hold.reason.note;
        break;
    case HoldReason::Kind::verificationFailure:
        reason = kVerificationFailure;
        note = hold.reason.snapshot.value.uuidString();
        break;
    case HoldReason::Kind::anomalyDetected: reason = kAnomalyDetected; break;
    }
}

std::optional<RetentionHold> HoldRecord::hold() const {
    RetentionHold hold;
    hold.id = HoldID{id};
    hold.protectsSnapshotsBefore = protectsSnapshotsBefore;
    hold.createdAt = createdAt;
    hold.clearedAt = clearedAt;
    if (reason == kAnomalyDetected) {
        hold.reason = HoldReason::anomalyDetected();
    } else if (reason == kUserRequested) {
        hold.reason = HoldReason::userRequested(note.value_or(""));
    } else if (reason == kVerificationFailure) {
        // Only the 36-character text form with hyphens names a snapshot here.
        if (!note || note->size() != 36) return std::nullopt;
        const auto snapshot = UUID::parse(*note);
        if (!snapshot) return std::nullopt;
        hold.reason = HoldReason::verificationFailure(SnapshotID{*snapshot});
    } else {
        hold.reason = HoldReason::userRequested(reason);
    }
    return hold;
}

JSON HoldRecord::toJSON() const {
    JSON json = JSON::object();
    json["v"] = v;
    json["id"] = RepositoryJSON::uuid(id);
    json["reason"] = reason;
    if (note) json["note"] = *note;
    json["protectsSnapshotsBefore"] = RepositoryJSON::date(protectsSnapshotsBefore);
    json["createdAt"] = RepositoryJSON::date(createdAt);
    if (clearedAt) json["clearedAt"] = RepositoryJSON::date(*clearedAt);
    return json;
}

HoldRecord HoldRecord::fromJSON(const JSON& json) {
    using namespace RepositoryJSON;
    HoldRecord record;
    record.v = int64(member(json, "v"), "v");
    record.id = toUUID(member(json, "id"), "id");
    record.reason = text(member(json, "reason"), "reason");
    if (has(json, "note")) record.note = text(json.at("note"), "note");
    record.protectsSnapshotsBefore = toDate(member(json, "protectsSnapshotsBefore"), "protectsSnapshotsBefore");
    record.createdAt = toDate(member(json, "createdAt"), "createdAt");
    if (has(json, "clearedAt")) record.clearedAt = toDate(json.at("clearedAt"), "clearedAt");
    return record;
}

void addHold(Repository& repository, const RetentionHold& hold) { store(repository, hold); }

HoldListing holds(const Repository& repository) {
    Destination& destination = *repository.destination();
    HoldListing listing;
    for (const RepoPath& path : destination.list(RepositoryLayout::holdsDirectory())) {
        if (path.isRoot() || !path.fileName().ends_with(RepositoryLayout::holdEnding)) continue;
        std::optional<RetentionHold> hold;
        try {
            const Bytes file = destination.read(path);
            hold = SignedFile::open<HoldRecord>(file, repository.keys(), repository.cipher()).hold();
        } catch (const std::exception&) {
            // Unreadable, forged, damaged or not a hold record: counted below.
        }
        if (hold) {
            listing.holds.push_back(std::move(*hold));
        } else {
            ++listing.unreadable;
        }
    }
    return listing;
}

std::vector<RetentionHold> activeHolds(const Repository& repository) {
    std::vector<RetentionHold> active;
    for (auto& hold : holds(repository).holds) {
        if (hold.isActive()) active.push_back(std::move(hold));
    }
    return active;
}

void clearHold(Repository& repository, const RetentionHold& hold, Date now) {
    RetentionHold cleared = hold;
    cleared.clearedAt = now;
    store(repository, cleared);
}

}  // namespace wm

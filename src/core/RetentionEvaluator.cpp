#include "core/RetentionEvaluator.h"

#include <algorithm>
#include <ctime>
#include <set>

namespace wm::RetentionEvaluator {

namespace {

struct Periods {
    std::int64_t hour, day, month, year;
};

// Indices of the local calendar hour, day, month and year that hold the date.
Periods periodsOf(Date date) {
    std::time_t seconds = static_cast<std::time_t>(floorDivision(date.microseconds, 1000000));
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) gmtime_r(&seconds, &local);
    const std::int64_t year = static_cast<std::int64_t>(local.tm_year) + 1900;
    const unsigned month = static_cast<unsigned>(local.tm_mon) + 1;
    const std::int64_t day = daysSince1970({year, month, static_cast<unsigned>(local.tm_mday)});
    return {day * 24 + local.tm_hour, day, year * 12 + month - 1, year};
}

// Keeps the newest snapshot of each of the `count` periods counted back from now's.
void keepNewestPerPeriod(const std::vector<const Snapshot*>& newest, const std::vector<Periods>& periods,
                         const Periods& current, std::int64_t count, std::int64_t Periods::*field,
                         std::unordered_set<SnapshotID>& keep) {
    if (count <= 0) return;
    std::set<std::int64_t> filled;
    for (std::size_t i = 0; i < newest.size(); ++i) {
        const std::int64_t index = std::min(periods[i].*field, current.*field);
        const std::int64_t back = current.*field - index;
        if (back >= count) continue;
        if (filled.insert(index).second) keep.insert(newest[i]->id);
    }
}

// Whether a comes before b newest first: later createdAt, equal dates by higher counter.
bool newer(const Snapshot& a, const Snapshot& b) {
    if (a.createdAt != b.createdAt) return a.createdAt > b.createdAt;
    return a.counter > b.counter;
}

// The rule and the holds over the listings, ordered by reference.
std::unordered_set<SnapshotID> retainedOf(const std::vector<const Snapshot*>& snapshots, const RetentionPolicy& policy,
                                          const std::vector<RetentionHold>& holds, Date now,
                                          const std::optional<StoredSizes>& sizes) {
    std::unordered_set<SnapshotID> keep;
    if (snapshots.empty()) return keep;
    std::vector<const Snapshot*> newest = snapshots;
    std::stable_sort(newest.begin(), newest.end(), [](const Snapshot* a, const Snapshot* b) { return newer(*a, *b); });

    switch (policy.kind) {
    case RetentionPolicy::Kind::lastN: {
        std::int64_t n = 0;
        for (const Snapshot* s : newest) {
            if (n >= policy.count) break;
            keep.insert(s->id);
            ++n;
        }
        break;
    }
    case RetentionPolicy::Kind::duration: {
        // Double seconds: a day count of any size compares without overflow.
        const double limit = static_cast<double>(policy.days) * 86400.0;
        for (const Snapshot* s : newest)
            if (now.timeIntervalSince(s->createdAt) < limit) keep.insert(s->id);
        break;
    }
    case RetentionPolicy::Kind::smart: {
        std::vector<Periods> periods;
        periods.reserve(newest.size());
        for (const Snapshot* s : newest) periods.push_back(periodsOf(s->createdAt));
        const Periods current = periodsOf(now);
        keepNewestPerPeriod(newest, periods, current, policy.hourly, &Periods::hour, keep);
        keepNewestPerPeriod(newest, periods, current, policy.daily, &Periods::day, keep);
        keepNewestPerPeriod(newest, periods, current, policy.monthly, &Periods::month, keep);
        keepNewestPerPeriod(newest, periods, current, policy.yearly, &Periods::year, keep);
        break;
    }
    case RetentionPolicy::Kind::size: {
        if (!sizes) {
            for (const Snapshot* s : newest) keep.insert(s->id);
            break;
        }
        std::int64_t total = 0;
        for (const Snapshot* s : newest) {
            auto it = sizes->addedBytes.find(s->id);
            const std::int64_t added = it == sizes->addedBytes.end() ? 0 : std::max<std::int64_t>(it->second, 0);
            std::int64_t next;
            if (__builtin_add_overflow(total, added, &next) || next > policy.bytes) break;
            total = next;
            keep.insert(s->id);
        }
        break;
    }
    }

    keep.insert(newest.front()->id);
    for (const RetentionHold& hold : holds) {
        if (!hold.isActive()) continue;
        for (const Snapshot* s : snapshots)
            if (s->createdAt < hold.protectsSnapshotsBefore) keep.insert(s->id);
    }
    return keep;
}

}  // namespace

std::vector<Snapshot> newestFirst(std::vector<Snapshot> snapshots) {
    std::stable_sort(snapshots.begin(), snapshots.end(), newer);
    return snapshots;
}

std::vector<std::shared_ptr<const Snapshot>> newestFirst(std::vector<std::shared_ptr<const Snapshot>> snapshots) {
    std::stable_sort(snapshots.begin(), snapshots.end(), [](const auto& a, const auto& b) { return newer(*a, *b); });
    return snapshots;
}

std::unordered_set<SnapshotID> retained(const std::vector<Snapshot>& snapshots, const RetentionPolicy& policy,
                                        const std::vector<RetentionHold>& holds, Date now,
                                        const std::optional<StoredSizes>& sizes) {
    std::vector<const Snapshot*> listed;
    listed.reserve(snapshots.size());
    for (const Snapshot& s : snapshots) listed.push_back(&s);
    return retainedOf(listed, policy, holds, now, sizes);
}

std::unordered_set<SnapshotID> retained(const std::vector<std::shared_ptr<const Snapshot>>& snapshots,
                                        const RetentionPolicy& policy, const std::vector<RetentionHold>& holds,
                                        Date now, const std::optional<StoredSizes>& sizes) {
    std::vector<const Snapshot*> listed;
    listed.reserve(snapshots.size());
    for (const auto& s : snapshots) listed.push_back(s.get());
    return retainedOf(listed, policy, holds, now, sizes);
}

}  // namespace wm::RetentionEvaluator

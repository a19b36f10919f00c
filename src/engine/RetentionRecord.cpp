#include "engine/RetentionRecord.h"

#include <limits>

#include "engine/Repository.h"
#include "format/RepositoryLayout.h"
#include "format/SignedFile.h"

namespace wm {

RetentionRecord::RetentionRecord(const RetentionPolicy& policy) {
    switch (policy.kind) {
    case RetentionPolicy::Kind::lastN:
        rule = "lastN";
        count = policy.count;
        break;
    case RetentionPolicy::Kind::duration:
        rule = "duration";
        days = policy.days;
        break;
    case RetentionPolicy::Kind::smart:
        rule = "smart";
        hourly = policy.hourly;
        daily = policy.daily;
        monthly = policy.monthly;
        yearly = policy.yearly;
        break;
    case RetentionPolicy::Kind::size:
        rule = "size";
        bytes = policy.bytes;
        break;
    }
}

RetentionPolicy RetentionRecord::keepEverything() {
    return RetentionPolicy::lastN(std::numeric_limits<std::int64_t>::max());
}

RetentionPolicy RetentionRecord::policy() const {
    if (rule == "lastN" && count) return RetentionPolicy::lastN(*count);
    if (rule == "duration" && days) return RetentionPolicy::duration(*days);
    if (rule == "smart" && hourly && daily && monthly && yearly)
        return RetentionPolicy::smart(*hourly, *daily, *monthly, *yearly);
    if (rule == "size" && bytes) return RetentionPolicy::size(*bytes);
    return keepEverything();
}

JSON RetentionRecord::toJSON() const {
    JSON json = JSON::object();
    json["v"] = v;
    json["rule"] = rule;
    const auto put = [&json](const char* key, const std::optional<std::int64_t>& value) {
        if (value) json[key] = *value;
    };
    put("count", count);
    put("days", days);
    put("hourly", hourly);
    put("daily", daily);
    put("monthly", monthly);
    put("yearly", yearly);
    put("bytes", bytes);
    return json;
}

RetentionRecord RetentionRecord::fromJSON(const JSON& json) {
    using namespace RepositoryJSON;
    RetentionRecord record;
    record.v = int64(member(json, "v"), "v");
    record.rule = text(member(json, "rule"), "rule");
    const auto get = [&json](const char* key) -> std::optional<std::int64_t> {
        if (!has(json, key)) return std::nullopt;
        return int64(json.at(key), key);
    };
    record.count = get("count");
    record.days = get("days");
    record.hourly = get("hourly");
    record.daily = get("daily");
    record.monthly = get("monthly");
    record.yearly = get("yearly");
    record.bytes = get("bytes");
    return record;
}

std::optional<RetentionPolicy> retentionPolicy(const Repository& repository) {
    Bytes file;
    try {
        file = repository.destination()->read(RepositoryLayout::retentionSetting());
    } catch (const std::exception&) {
        return std::nullopt;
    }
    try {
        return SignedFile::open<RetentionRecord>(file, repository.keys(), repository.cipher()).policy();
    } catch (const std::exception&) {
        // Present but unusable: keep everything rather than let pruning guess.
        return RetentionRecord::keepEverything();
    }
}

void setRetentionPolicy(Repository& repository, const RetentionPolicy& policy) {
    const Bytes sealed = SignedFile::seal(RetentionRecord(policy), repository.keys(), repository.cipher());
    Repository::write(sealed, RepositoryLayout::retentionSetting(), *repository.destination());
}

}  // namespace wm

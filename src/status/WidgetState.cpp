#include "status/WidgetState.h"

#include "core/DurableReplace.h"
#include "core/Localization.h"
#include "core/RepositoryJSON.h"
#include "policy/FileManager.h"
#include "status/AppGroup.h"
#include "status/WidgetSummary.h"

namespace wm {

namespace {

using RepositoryJSON::DecodingError;

Date dateOf(const JSON& value, const char* key) {
    if (!value.is_string()) throw DecodingError(DecodingError::Kind::typeMismatch, key, "expected a string");
    auto date = RepositoryJSON::parseWholeSecondDate(value.get_ref<const std::string&>());
    if (!date)
        throw DecodingError(DecodingError::Kind::dataCorrupted, key, "not an internet date-time in whole seconds");
    return *date;
}

}  // namespace

WidgetState WidgetState::fromStanding(const ScreenStanding::Headline& standing, std::optional<Date> lastSuccess,
                                      std::int64_t confirmedCopies, Date writtenAt) {
    return {standing.text, standing.tone, standing.symbol, lastSuccess, confirmedCopies, writtenAt};
}

const WidgetState& WidgetState::nothingKnownYet() {
    static const WidgetState state{
        WM_L("Open Wendle Marsh"), ScreenStanding::Tone::neutral, "circle.dashed", std::nullopt, 0,
        Date::distantPast()};
    return state;
}

Bytes WidgetState::encode(const WidgetState& state) {
    JSON object = JSON::object();
    object["confirmedCopies"] = state.confirmedCopies;
    object["headline"] = state.headline;
    if (state.lastSuccess) object["lastSuccess"] = RepositoryJSON::wholeSecondDateText(*state.lastSuccess);
    object["symbol"] = state.symbol;
    object["tone"] = std::string(ScreenStanding::rawValue(state.tone));
    object["writtenAt"] = RepositoryJSON::wholeSecondDateText(state.writtenAt);
    return RepositoryJSON::encodeBytes(object, /*pretty=*/false);
}

WidgetState WidgetState::decode(ByteView bytes) {
    const JSON object = RepositoryJSON::decode(bytes);
    if (!object.is_object()) throw DecodingError(DecodingError::Kind::typeMismatch, "", "expected an object");
    WidgetState state;
    state.confirmedCopies = RepositoryJSON::int64(RepositoryJSON::member(object, "confirmedCopies"), "confirmedCopies");
    state.headline = RepositoryJSON::text(RepositoryJSON::member(object, "headline"), "headline");
    if (RepositoryJSON::has(object, "lastSuccess")) state.lastSuccess = dateOf(object.at("lastSuccess"), "lastSuccess");
    state.symbol = RepositoryJSON::text(RepositoryJSON::member(object, "symbol"), "symbol");
    const std::string tone = RepositoryJSON::text(RepositoryJSON::member(object, "tone"), "tone");
    const auto parsed = ScreenStanding::toneFromRawValue(tone);
    if (!parsed) throw DecodingError(DecodingError::Kind::dataCorrupted, "tone", "not a tone: " + tone);
    state.tone = *parsed;
    state.writtenAt = dateOf(RepositoryJSON::member(object, "writtenAt"), "writtenAt");
    return state;
}

std::filesystem::path WidgetState::filePath() { return AppGroup::dataFolder() / fileName; }

void WidgetState::write(const WidgetState& state, const std::filesystem::path& file) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    if (ec) throw std::system_error(ec, file.parent_path().string());
    replaceFileDurably(file, encode(state));
}

std::optional<WidgetState> WidgetState::read(const std::filesystem::path& file) {
    const auto bytes = FileManager::defaultManager().regularFileContents(file.string(), readLimit);
    if (!bytes) return std::nullopt;
    try {
        return decode(viewOf(*bytes));
    } catch (const RepositoryJSON::DecodingError&) {
        return std::nullopt;
    }
}

std::optional<std::string> WidgetState::stalenessNote(Date now) const {
    if (!wasEverWritten()) return std::nullopt;
    return WidgetSummary::stalenessNote(writtenAt, now);
}

}  // namespace wm

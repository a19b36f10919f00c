// Arbitrary bytes as the stored form of the backup side's records: a schedule, a backup
// window, exclusion rules, chosen sources, drive rotation, the verification schedule, the
// recovery-key reminder and the review prompt. Damage must be refused with a decoding error, and whatever is
// accepted must be written in a form that reads back to itself (times are stored to the
// millisecond, so the first write may round them).
#include <cstdint>

#include "RecordRoundTrip.h"
#include "policy/BackupSchedule.h"
#include "policy/BackupWindow.h"
#include "policy/DriveRotation.h"
#include "policy/Exclusions.h"
#include "policy/KeyReminder.h"
#include "policy/ReviewPrompt.h"
#include "policy/SourceSelection.h"
#include "policy/VerificationSchedule.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto json = wm::fuzz::jsonDocument(data, size);
    if (!json) return 0;
    wm::fuzz::roundTrip<wm::BackupSchedule>(*json);
    wm::fuzz::roundTrip<wm::Exclusions>(*json);
    wm::fuzz::roundTrip<wm::SourceSelection>(*json);
    wm::fuzz::roundTrip<wm::BackupWindow>(*json);
    wm::fuzz::roundTrip<wm::DriveRotation>(*json);
    wm::fuzz::roundTrip<wm::VerificationSchedule>(*json);
    wm::fuzz::roundTrip<wm::KeyReminder>(*json);
    wm::fuzz::roundTrip<wm::ReviewPrompt>(*json);
    return 0;
}

// Every policy test formats and words as en_US, whatever the environment of the machine.
#include <gtest/gtest.h>

#include "core/Localization.h"

namespace {
struct PinnedLocale : ::testing::Environment {
    void SetUp() override { wm::Localization::setLocaleForTesting("en_US"); }
};
const auto* const pinned = ::testing::AddGlobalTestEnvironment(new PinnedLocale);
}  // namespace

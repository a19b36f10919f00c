#pragma once
// The share of a repository's packs that a sample check reads back. The verification
// schedule publishes it and the engine's sampling verification reads it by default.

namespace wm {

inline constexpr double verificationSampleFraction = 0.05;

}  // namespace wm

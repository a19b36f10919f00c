#pragma once
// Internal to the crypto module: user-perceived characters (extended grapheme clusters)
// of UTF-8 text, the unit in which typed secrets are counted and positions reported.
#include <string>
#include <string_view>
#include <vector>

namespace wm::TextClusters {

// Each cluster as UTF-8; ill-formed input is repaired first (each bad sequence becomes U+FFFD).
std::vector<std::string> split(std::string_view text);

}  // namespace wm::TextClusters

#pragma once
// One sentence for an object-storage service's answer, from its HTTP status and body.
#include <cstdint>
#include <string>
#include <string_view>

namespace wm::ObjectStoreAdvice {

// The body is only searched for the service's error codes, never parsed.
std::string sentence(std::int64_t status, std::string_view body);

}  // namespace wm::ObjectStoreAdvice

#pragma once
// Base of every exception this project throws for an expected failure.
// what() is the error's printable description: it names the error's type and case,
// for example "ByteCursor.Error.truncated(needed: 4, remaining: 2)".
#include <stdexcept>
#include <string>

namespace wm {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace wm

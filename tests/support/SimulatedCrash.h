#pragma once
// The exception a test fixture throws to stand for the process dying or the power going off.
// It derives from nothing (not DestinationError, not wm::Error, not even std::exception), so
// no code that catches and swallows ordinary failures can catch it: only catch (...) does,
// and production code must let it through.
#include <string>

namespace wm::test {

struct SimulatedCrash {
    std::string where;  // what the fixture was doing when it "crashed"
};

}  // namespace wm::test

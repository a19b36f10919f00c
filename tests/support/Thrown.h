#pragma once
// The exception of type E that f throws; throwing none (or another) fails the test.
#include <stdexcept>

namespace wm::test {

template <class E, class F>
E thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    throw std::runtime_error("the expected exception was not thrown");
}

}  // namespace wm::test

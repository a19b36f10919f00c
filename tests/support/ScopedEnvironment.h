#pragma once
// Sets or clears one environment variable for the life of the guard, and puts back what was
// there before however the test ends. A change of TZ takes effect at once.
#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace wm::test {

class ScopedEnvironment {
public:
    // No value clears the variable.
    ScopedEnvironment(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* before = std::getenv(name_.c_str())) before_ = before;
        set(value);
    }
    ~ScopedEnvironment() { set(before_); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void set(const std::optional<std::string>& value) const {
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
        ::tzset();
    }

    std::string name_;
    std::optional<std::string> before_;
};

}  // namespace wm::test

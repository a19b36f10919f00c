#pragma once
// Whether copies to places off this machine may go over the current network connection:
// not over one that charges by the byte, not while Low Data Mode is on. The caller reads
// the two flags from the platform; Update All overrides the wait, and the caller does that.
#include <optional>
#include <string>

namespace wm::NetworkConditions {

struct State {
    bool isExpensive = false;    // the connection charges by the byte
    bool isConstrained = false;  // Low Data Mode is on

    friend bool operator==(const State&, const State&) = default;
};

// Before the platform has reported anything; it lets copies go.
inline constexpr State unknown{};

struct Verdict {
    enum class Kind { waiting, go };
    Kind kind = Kind::go;
    std::string text;  // waiting: why

    static Verdict waiting(std::string why) { return {Kind::waiting, std::move(why)}; }
    static Verdict go() { return {}; }
    bool shouldSend() const { return kind == Kind::go; }
    friend bool operator==(const Verdict&, const Verdict&) = default;
};

// An expensive connection wins over Low Data Mode when both hold.
Verdict shouldSendRemoteCopies(const State& state);

}  // namespace wm::NetworkConditions

#pragma once
// The kinds of entry a restore never recreates (named pipes, sockets, devices), each
// with the sentence that tells the user why it is missing.
#include <string>

namespace wm {

struct SpecialFileOutcome {
    enum class Kind { skippedFIFO, skippedSocket, skippedCharacterDevice, skippedBlockDevice };
    static SpecialFileOutcome skippedFIFO(std::string name) { return {Kind::skippedFIFO, std::move(name)}; }
    static SpecialFileOutcome skippedSocket(std::string name) { return {Kind::skippedSocket, std::move(name)}; }
    static SpecialFileOutcome skippedCharacterDevice(std::string name) {
        return {Kind::skippedCharacterDevice, std::move(name)};
    }
    static SpecialFileOutcome skippedBlockDevice(std::string name) {
        return {Kind::skippedBlockDevice, std::move(name)};
    }

    Kind kind;
    std::string name;  // decoded as UTF-8 with repair

    // The localised sentence for the user.
    std::string description() const;
    // The shorter reason a restore lists it under: "this was a named pipe and was not recreated".
    std::string reason() const;
    friend bool operator==(const SpecialFileOutcome&, const SpecialFileOutcome&) = default;
};

}  // namespace wm

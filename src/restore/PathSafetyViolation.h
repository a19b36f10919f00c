#pragma once
// The refusal of a write under a restore target. Every case carries the data the
// user needs, and what() is the localised sentence that explains it: an error that words
// itself, so its user sentence is that same text.
#include <cstdint>
#include <string>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/SystemCall.h"  // systemErrorText, for the underlying texts
#include "core/UserPresentableError.h"

namespace wm {

class PathSafetyViolation : public wm::Error, public UserPresentableError {
public:
    std::string userSentence() const override { return what(); }

    enum class Kind {
        reservedName,
        symlinkComponent,
        existingSymlinkAtTarget,
        targetAlreadyExists,
        nameFoldsOnThisVolume,
        unexpectedNonDirectory,
        tooManyComponents,
        pathTooLong,
        restoreRootUnavailable,
        ioFailure,
        componentDoesNotExist,
        nulByteInSymlinkTarget,
        linkSourceDoesNotExist,
        emptyName,
        nulByteInName,
        pathSeparatorInName,
        absolutePath,
        insideTheBackup,
        targetReplaced,
    };

    static PathSafetyViolation reservedName(std::string name);
    static PathSafetyViolation symlinkComponent(std::string name, std::int64_t atDepth);
    static PathSafetyViolation existingSymlinkAtTarget(std::string name);
    static PathSafetyViolation targetAlreadyExists(std::string name);
    static PathSafetyViolation nameFoldsOnThisVolume(std::string wanted, std::string existing);
    static PathSafetyViolation unexpectedNonDirectory(std::string name);
    static PathSafetyViolation tooManyComponents(std::int64_t limit);
    static PathSafetyViolation pathTooLong(std::int64_t limit);
    static PathSafetyViolation restoreRootUnavailable(std::string underlying);
    static PathSafetyViolation ioFailure(std::string name, std::string call, std::string underlying);
    static PathSafetyViolation componentDoesNotExist(std::string name);
    static PathSafetyViolation nulByteInSymlinkTarget(std::string name);
    static PathSafetyViolation linkSourceDoesNotExist(std::string name);
    static PathSafetyViolation emptyName();
    static PathSafetyViolation nulByteInName();
    static PathSafetyViolation pathSeparatorInName();
    static PathSafetyViolation absolutePath();
    // The folder is the backup being read, or the target lies inside it.
    static PathSafetyViolation insideTheBackup(std::string name);
    // The folder opened to restore into is not the one made or checked for it: another
    // folder or a link took its place in between.
    static PathSafetyViolation targetReplaced(std::string name);

    Kind kind;
    std::string name;          // every case with a name
    std::int64_t atDepth = 0;  // symlinkComponent
    std::string wanted;        // nameFoldsOnThisVolume
    std::string existing;      // nameFoldsOnThisVolume
    std::int64_t limit = 0;    // tooManyComponents, pathTooLong
    std::string underlying;    // restoreRootUnavailable, ioFailure: the system's text for the error number
    std::string call;          // ioFailure: "openat", "mkdirat", "openat(create)", "symlinkat", "linkat", "dup"

    // The sentence shown to the user (the same text as what()).
    std::string description() const { return what(); }

    friend bool operator==(const PathSafetyViolation& a, const PathSafetyViolation& b) {
        return a.kind == b.kind && a.name == b.name && a.atDepth == b.atDepth && a.wanted == b.wanted &&
               a.existing == b.existing && a.limit == b.limit && a.underlying == b.underlying && a.call == b.call;
    }

private:
    PathSafetyViolation(Kind k, const std::string& sentence) : wm::Error(sentence), kind(k) {}
};

}  // namespace wm

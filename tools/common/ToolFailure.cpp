#include "ToolFailure.h"

#include <filesystem>
#include <new>
#include <regex>
#include <system_error>

#include "ToolPhrasing.h"
#include "ToolRun.h"
#include "core/RepositoryJSON.h"
#include "core/UserPresentableError.h"
#include "crypto/CryptoFailure.h"
#include "crypto/Passphrase.h"
#include "format/RepositoryPresentation.h"
#include "format/SignedFile.h"
#include "fs/MetadataCapture.h"
#include "maintenance/Pruner.h"
#include "storage/DestinationError.h"
#include "storage/LocalFolderDestination.h"

namespace wm::tools {

namespace {

const char* const kDamaged =
    "Part of the backup is damaged or could not be read. Run a verification to see what is intact.";

std::string prunerSentence(const Pruner::Error& e) {
    switch (e.kind) {
    case Pruner::Error::Kind::stillCooling:
        return "Sweeping is allowed from " + RepositoryJSON::dateText(e.until) +
               ", seven days after the mark, so that a backup still writing can finish.";
    case Pruner::Error::Kind::noMark: return "There is no mark to sweep by. Mark first, and sweep seven days later.";
    case Pruner::Error::Kind::reachableSetChanged:
        return "The snapshots to keep changed since the mark, so nothing was deleted. Mark again, and sweep seven "
               "days later.";
    case Pruner::Error::Kind::markUnreadable:
        return "A snapshot or folder listing the mark needs could not be read, so nothing was changed. Run a "
               "verification to see what is intact.";
    case Pruner::Error::Kind::indexIncomplete:
        return "The index does not locate every piece a kept snapshot needs, so nothing was deleted. Run a "
               "verification to see what is intact, then mark again.";
    case Pruner::Error::Kind::headMoved:
        if (e.alreadyDone.empty())
            return "Another backup changed the repository meanwhile, so nothing was deleted. Sweep again.";
        return "Another backup changed the repository meanwhile, so the sweep stopped there. " + e.alreadyDone +
               " Sweep again.";
    }
    return kDamaged;
}

// The product's sentence for a failed write also when the volume or a folder refused it: its
// sentence for a refused permission speaks of reading. A link the destination would not
// write through is named by its path in the backup.
std::string destinationSentence(const DestinationError& e) {
    using Operation = DestinationError::Operation;
    if (LocalFolderDestination::isLinkRefusal(e))
        return "The backup's " + inQuotes(e.path.string()) +
               " is a link to another place, so nothing was written or deleted through it. Put the backup's own "
               "folder back, and run this again.";
    const bool refusedWrite = e.kind == DestinationError::Kind::permissionDenied && e.operation != Operation::read;
    const DestinationError worded =
        refusedWrite ? DestinationError::writeFailed(e.path, e.underlying.empty() ? "Permission denied" : e.underlying)
                     : e;
    if (e.path.isRoot() && worded.kind != DestinationError::Kind::permissionDenied && !worded.underlying.empty())
        return "Wendle Marsh could not write the folder itself (" + worded.underlying +
               "). Check the location is connected, is not full, and is not read only.";
    const std::string sentence = RepositoryPresentation::sentence(worded);
    return sentence.find(worded.what()) == std::string::npos ? sentence : kDamaged;
}

}  // namespace

bool namesAType(const std::string& text) {
    static const std::regex typeName(R"([A-Za-z](\.Error|Error)\.[a-z]|::)");
    return std::regex_search(text, typeName);
}

std::string readableSentence(const std::string& sentence) { return namesAType(sentence) ? kDamaged : sentence; }

std::string failureSentence(const std::exception& error) {
    if (dynamic_cast<const ToolRefusal*>(&error) || dynamic_cast<const UsageError*>(&error)) return error.what();
    if (const auto* e = dynamic_cast<const UserPresentableError*>(&error)) return e->userSentence();
    if (const auto* e = dynamic_cast<const Pruner::Error*>(&error)) return prunerSentence(*e);
    if (const auto* e = dynamic_cast<const MetadataCapture::Error*>(&error))
        return inQuotes(e->path) + " could not be examined: " + e->reason + ".";
    if (const auto* e = dynamic_cast<const Passphrase::Failure*>(&error)) {
        if (e->kind == Passphrase::Failure::Kind::tooShort)
            return "The passphrase is too short: it needs at least " + std::to_string(e->minimum) +
                   " characters, and this one has " + std::to_string(e->got) + ".";
        return "The backup's passphrase settings are not ones this version can use.";
    }
    if (dynamic_cast<const CryptoFailure*>(&error))
        return "The system's cryptography library failed, which points at exhausted memory or a broken "
               "installation.";
    if (dynamic_cast<const SignedFile::Error*>(&error))
        return "A record of the backup is damaged or was not written with this backup's keys, so it could not "
               "be opened.";
    if (const auto* e = dynamic_cast<const DestinationError*>(&error)) return destinationSentence(*e);
    if (dynamic_cast<const wm::Error*>(&error)) {
        // The product's last resort shows the error's description, which names its type.
        const std::string sentence = RepositoryPresentation::sentence(error);
        return sentence.find(error.what()) == std::string::npos ? sentence : kDamaged;
    }
    if (const auto* e = dynamic_cast<const std::filesystem::filesystem_error*>(&error)) {
        const std::string path = e->path1().string();
        return (path.empty() ? std::string("A file") : inQuotes(path)) + " could not be used: " + e->code().message() +
               ".";
    }
    if (dynamic_cast<const std::bad_alloc*>(&error)) return "There was not enough memory.";
    if (const auto* e = dynamic_cast<const std::system_error*>(&error))
        return "A file could not be read or written: " + e->code().message() + ".";
    return "The run stopped on a failure this tool does not know how to describe.";
}

}  // namespace wm::tools

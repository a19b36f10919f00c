#pragma once
// Every error that can come out of the repository code, turned into one plain sentence
// for the user, in one place. Sentences are looked up in the format module's text domain
// with the English text as key and fallback.
#include <exception>
#include <string>

#include "core/Localization.h"

namespace wm::RepositoryPresentation {

// The sentence for a repository without passphrase settings. The restore window words the
// same case with the same text, looked up in its own catalogue.
inline constexpr const char* noPassphraseText = WM_N(
    "No passphrase was set on this backup, so there is nothing to type. Use the recovery key that was "
    "written down when it was created.");

// Never empty. Recognised, in order: recovery-key typing errors; key-file errors (the last
// portable key, a wrong key); a folder that is not a repository (a config that does not
// read, or no config file); a newer format; a foreign repository at a copy target; the
// repository's own errors (already exists, head missing, no passphrase); destination
// errors; pack file damage; anything else as "Something went wrong: " + its description.
std::string sentence(const std::exception& error);
std::string sentence(const std::exception_ptr& error);

}  // namespace wm::RepositoryPresentation

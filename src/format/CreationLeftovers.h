#pragma once
// What a creation of a repository that was cut short can leave in a folder, told apart from a
// person's own files: a new repository is made only where every name it uses holds nothing
// or such a leftover, so that no file of a person's is ever written over.
#include <optional>

#include "storage/Destination.h"
#include "storage/RepoPath.h"

namespace wm::CreationLeftovers {

// What is done with the names at the folder's top that no repository uses.
enum class OtherNames {
    refused,     // each is a person's file: the folder is theirs
    passedOver,  // left as they are: nothing is written there
};

// The first entry of the folder that a new repository must not be made over, in listing
// order; nothing when every entry is one a creation cut short can leave:
// - "tmp", whatever it holds (it is never entered before the folder is a repository);
// - each of the repository's folders, empty or holding only key files that decode as key
//   files (a folder is never taken for a file, nor a file for a folder);
// - the writing lock when it decodes as a lock record, the config when it decodes as a
//   config, and the drive's read-me files when they are the system's own
//   (DriveReadMe::isOwnFile).
// Everything else inside the repository's folders is a person's, the head included: its
// bytes are sealed and show nothing of whose they are. Files are read never through a link
// and no further than their kind's size limit (the read-me files only as far as their first
// line); one that cannot be read is a person's, and so is one of the repository's folders
// that cannot be listed. A folder that cannot be listed itself throws the destination's error.
std::optional<RepoPath> firstForeignEntry(Destination& folder, OtherNames others);

}  // namespace wm::CreationLeftovers

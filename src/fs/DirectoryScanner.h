#pragma once
// Walks a folder tree without following symbolic links, capturing each entry's metadata.
// What cannot be read (an entry that vanished, a folder that cannot be opened, a file whose
// content cannot be read) is reported and the walk goes on.
#include <string>
#include <vector>

#include "fs/FileMetadata.h"

namespace wm {

class DirectoryScanner {
public:
    enum class Status { ok, unreadable };

    struct Entry {
        std::string name;  // raw bytes of the entry's name ("" for the top folder)
        std::string path;  // relative to the top folder, names joined by "/" ("" for the top)
        FileMetadata metadata;
        Status status = Status::ok;
        std::vector<std::string> problems;  // why status is unreadable, or what was partly read
        std::vector<Entry> children;        // a folder's entries, sorted by name bytes
    };

    struct Problem {
        std::string path;  // relative, as in Entry
        std::string reason;
    };

    struct Result {
        Entry root;
        std::vector<Problem> problems;  // every problem met, in walk order
    };

    // Scans the folder at path (which may itself be reached through a symbolic link).
    // Throws MetadataCapture::Error when the top folder cannot be examined or opened.
    static Result scan(const std::string& path);
};

}  // namespace wm

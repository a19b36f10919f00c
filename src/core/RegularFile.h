#pragma once
// Reading the whole of a regular file of bounded size without ever blocking on it. The name is
// looked at before anything is opened, so no device is ever opened; the open does not block, so
// a named pipe swapped in meanwhile does not wait for a writer; the descriptor is looked at
// again; and at most one byte past the limit is read, so a file that grew past it is refused
// whatever its size claimed.
#include <cstddef>
#include <optional>
#include <string>

namespace wm::RegularFile {

enum class Failure {
    missing,         // no such file (errorNumber ENOENT or ENOTDIR)
    unreadable,      // errorNumber says why
    notRegularFile,  // a folder, a pipe, a device, ...
    tooLarge,        // more than the limit
};

struct Contents {
    std::string bytes;  // empty when failure is set
    std::optional<Failure> failure;
    int errorNumber = 0;  // unreadable, missing
};

enum class Links {
    followed,  // a symbolic link is read as the file it names
    refused,   // a symbolic link, also one put in place just before the open, is notRegularFile
};

Contents read(const std::string& path, std::size_t limit, Links links = Links::followed);

}  // namespace wm::RegularFile

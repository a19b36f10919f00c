#pragma once
// Reads the FileMetadata of an entry without following a final symbolic link: statx (with
// the birth time when the file system keeps one), user and group names, extended
// attributes, the Linux ACL as text, the link target, the holes of a sparse file
// (SEEK_HOLE / SEEK_DATA; the largest, as many as an entry records) and the hard-link
// identity.
#include <string>

#include "core/Bytes.h"
#include "core/Error.h"
#include "fs/FileMetadata.h"

namespace wm {

class MetadataCapture {
public:
    class Error : public wm::Error {
    public:
        enum class Kind { entryUnavailable };
        static Error entryUnavailable(std::string path, int errorNumber);

        Kind kind;
        std::string path;
        int errorNumber = 0;
        std::string reason;

    private:
        Error(Kind k, std::string p, int e, std::string r, const std::string& description)
            : wm::Error(description), kind(k), path(std::move(p)), errorNumber(e), reason(std::move(r)) {}
    };

    // What capturing an entry found besides its metadata.
    struct Result {
        FileMetadata metadata;
        // The parts that could not be read (extended attributes, ACL, flags, holes) with the
        // system's reason; the metadata holds what could be.
        std::vector<std::string> problems;
        // For a regular file: whether its content can be opened for reading.
        bool contentReadable = true;
    };

    // Throws entryUnavailable when the entry itself cannot be examined.
    static Result capture(ByteView path);
    static Result capture(const std::string& path) { return capture(viewOf(path)); }
    static Result capture(int parentDescriptor, ByteView name, const std::string& displayPath);
    // The entry open as descriptor (a folder reached through a link, for instance).
    static Result captureDescriptor(int descriptor, const std::string& displayPath);
};

}  // namespace wm

#pragma once
// The few file-system questions the backup side's policies ask, behind one interface
// that tests replace (a listing that fails, a file that cannot be read) without
// depending on permissions: the tests run as root, which reads everything.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace wm {

class FileManager {
public:
    virtual ~FileManager() = default;

    // True when the path exists and is a folder (a link to a folder counts).
    virtual bool isDirectory(const std::string& path) const = 0;
    // The names directly inside the folder ("." and ".." left out), in no set order;
    // absent when the folder cannot be listed.
    virtual std::optional<std::vector<std::string>> contents(const std::string& path) const = 0;
    // The whole contents of a regular file of at most maxBytes; absent when the file is
    // missing, unreadable, larger than that or not a regular file (a named pipe or a
    // device is never opened for reading, so it cannot hold the caller up).
    virtual std::optional<std::string> regularFileContents(const std::string& path, std::size_t maxBytes) const = 0;
    // True when an item of any kind is at the path (a link counts when its target exists).
    virtual bool exists(const std::string& path) const;
    // Whether the item at the path is itself a folder, a symbolic link not followed, so a
    // walk that descends only into such folders cannot go round a link cycle; absent when
    // the item cannot be read. These two ask the real file system unless overridden.
    virtual std::optional<bool> isFolderItself(const std::string& path) const;

    // The real file system.
    static const FileManager& defaultManager();
};

}  // namespace wm

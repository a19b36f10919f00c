#include "fs/DirectoryScanner.h"
#include "core/SystemCall.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "core/Localization.h"
#include "core/Unicode.h"
#include "fs/MetadataCapture.h"

namespace wm {

namespace {

std::string childPath(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "/" + name;
}

void note(DirectoryScanner::Result& result, DirectoryScanner::Entry& entry, std::string reason) {
    result.problems.push_back({entry.path, reason});
    entry.problems.push_back(std::move(reason));
}

// Lists and captures the entries of the folder open as fd.
void walk(UniqueFd fd, DirectoryScanner::Entry& folder, DirectoryScanner::Result& result) {
    const DirectoryStream dir(::fdopendir(fd.get()));
    if (!dir) {
        const int err = errno;
        folder.status = DirectoryScanner::Status::unreadable;
        note(result, folder, WM_L("the folder could not be read: %@", systemErrorText(err)));
        return;
    }
    fd.release();  // the stream owns it now
    std::vector<std::string> names;
    while (true) {
        errno = 0;
        struct dirent* e = ::readdir(dir.get());
        if (!e) {
            if (errno != 0) {
                folder.status = DirectoryScanner::Status::unreadable;
                note(result, folder, WM_L("the folder could not be read to its end: %@", systemErrorText(errno)));
            }
            break;
        }
        std::string name(e->d_name);
        if (name == "." || name == "..") continue;
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());

    for (const auto& name : names) {
        DirectoryScanner::Entry entry;
        entry.name = name;
        entry.path = childPath(folder.path, name);
        const std::string shown = Unicode::decodeUTF8Repairing(entry.path);
        MetadataCapture::Result captured;
        try {
            captured = MetadataCapture::capture(::dirfd(dir.get()), viewOf(name), shown);
        } catch (const MetadataCapture::Error& error) {
            // Gone since the listing, or not even examinable: reported, not kept.
            result.problems.push_back({entry.path, error.reason});
            continue;
        }
        entry.metadata = std::move(captured.metadata);
        for (auto& problem : captured.problems) note(result, entry, std::move(problem));
        if (!captured.contentReadable) entry.status = DirectoryScanner::Status::unreadable;

        if (entry.metadata.fileType == FileMetadata::FileType::directory &&
            entry.status == DirectoryScanner::Status::ok) {
            UniqueFd child(retryingOnInterrupt([&] {
                return ::openat(::dirfd(dir.get()), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }));
            if (child.get() < 0) {
                entry.status = DirectoryScanner::Status::unreadable;
                note(result, entry, WM_L("the folder could not be opened: %@", systemErrorText(errno)));
            } else {
                walk(std::move(child), entry, result);
            }
        }
        folder.children.push_back(std::move(entry));
    }
}

}  // namespace

DirectoryScanner::Result DirectoryScanner::scan(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) throw MetadataCapture::Error::entryUnavailable(Unicode::decodeUTF8Repairing(path), errno);
    Result result;
    MetadataCapture::Result top = MetadataCapture::captureDescriptor(fd.get(), Unicode::decodeUTF8Repairing(path));
    result.root.metadata = std::move(top.metadata);
    for (auto& problem : top.problems) note(result, result.root, std::move(problem));
    walk(std::move(fd), result.root, result);
    return result;
}

}  // namespace wm

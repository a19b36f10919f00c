#pragma once
// Replacing a whole file so that a reader, or the file after a crash, holds either the
// old bytes or the new ones, never a mixture: the bytes go to a new file beside it,
// reach the disk, are renamed over the old name and the folder is flushed.
#include <filesystem>

#include "core/Bytes.h"

namespace wm {

// Throws std::system_error; the old file is then untouched and no temporary is left.
void replaceFileDurably(const std::filesystem::path& file, ByteView bytes);

// Creates a file that is not there yet so that, after a crash, it is there whole or not at
// all: the bytes go to a file with no name in its folder (where the file system has none, a
// named one beside it, removed again whatever happens), reach the disk, the file is linked in
// under its name, never over another (EEXIST), and the folder is flushed. Throws
// std::system_error; nothing is then left at the name.
void createFileDurably(const std::filesystem::path& file, ByteView bytes, int mode = 0600);

// Flushes a folder's entries (after a rename into it). Returns 0 or the error number;
// volumes that cannot flush a folder (EINVAL, ENOTSUP, EROFS) count as flushed.
int syncFolder(const std::filesystem::path& folder);
// The same for a folder already open.
int syncFolder(int folderDescriptor);

}  // namespace wm

#pragma once
// Reading a file that holds a passphrase or a recovery key: UTF-8 text whose surrounding
// white space and line breaks are dropped. Only a regular file of at most `limit` bytes is
// read (core/RegularFile.h), so a named pipe or a device is refused instead of waited on or
// read without end. The wording of a refusal is the caller's.
#include <cstddef>
#include <optional>
#include <string>

namespace wm::SecretFile {

// Far more than any passphrase or recovery key.
inline constexpr std::size_t limit = 64 * 1024;

enum class Failure {
    missing,         // no such file (errorNumber ENOENT or ENOTDIR)
    unreadable,      // errorNumber says why
    notRegularFile,  // a folder, a pipe, a device, ...
    tooLarge,        // more than `limit` bytes
    notUTF8,
};

struct Contents {
    std::string secret;  // trimmed; empty when failure is set
    std::optional<Failure> failure;
    int errorNumber = 0;  // unreadable, missing
};

Contents read(const std::string& path);

}  // namespace wm::SecretFile

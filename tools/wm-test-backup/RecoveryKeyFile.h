#pragma once
// The file outside the backup that keeps a new backup's recovery key: written whole or not at
// all, never over another file, and durable with its folder before the backup that needs it
// is made whole; read back to prove that a creation cut short was this tool's.
#include <string>

namespace wm::tools {

class RecoveryKeyFile {
public:
    explicit RecoveryKeyFile(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }

    // What is at the path, without following a link: nothing, the text of a regular file as a
    // secret file is read (white space around it dropped), or something else (a link, a
    // folder, a file that is no text).
    struct Found {
        enum class Kind { nothing, text, other };
        Kind kind = Kind::nothing;
        std::string text;
    };
    Found read() const;

    // Writes the key's text as one line, whole or not at all (createFileDurably). A file
    // already at the path throws ToolRefusal (it may hold the only key of another backup), and
    // so does any failure, after which nothing is left at the path.
    void write(const std::string& text) const;

    // Makes a file an earlier run wrote last (it and its folder synced), as write() would have
    // before the run was stopped. Throws ToolRefusal when either cannot be synced.
    void makeLasting() const;

    // Removes the file while it is a regular file holding `text` as write() wrote it; whether
    // nothing is left at the path.
    bool removeIfHolding(const std::string& text) const;

private:
    std::string path_;
};

// The sentence for a recovery-key file that is already there.
std::string recoveryKeyFileExists(const std::string& path);

}  // namespace wm::tools

#pragma once
// Applies a FileMetadata record to a restored entry, attribute by attribute, in a fixed
// order: ownership, extended attributes, ACL, modification time, creation time, BSD flags,
// mode. Each attribute gets one outcome; a problem with one attribute never stops the
// others. What Linux cannot do is reported as such (unpreserved or notApplicable), never as
// applied:
//  - ownership: fchown; a refusal is unpreserved with the system's reason;
//  - extended attributes: names in a Linux namespace ("user.", "trusted.", "security.",
//    "system.") are set as they are; other names (as another system writes them) are set
//    as "user." + name, and the outcome is partial, naming them; the names not set and those
//    kept under "user." are listed within the outcome's bounds (TextBounds), the first whole
//    ones and then how many more;
//  - ACL: bytes in the Linux ACL text form are set; others are unpreserved;
//  - modification time (and access time when recorded): set;
//  - creation time: Linux cannot set it; unpreserved when one was recorded, else notApplicable;
//  - BSD flags: nodump, immutable and append-only become the Linux inode flags; other bits
//    are named in a partial outcome, or make it unpreserved when none could be kept;
//  - mode: fchmod; notApplicable on a symbolic link (Linux gives links no mode).
// Immutable and append-only flags are set after the mode, since a file carrying them can no
// longer be changed; the report keeps the fixed order.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"
#include "core/Error.h"
#include "core/Unicode.h"
#include "fs/FileMetadata.h"

namespace wm {

// The most bytes the text of one outcome may take, whatever the metadata lists: a reason, and
// a detail, which a caller that shows it after words of its own ("partly applied: ") gives
// fewer. A list in either keeps its first whole items while the text stays within these bytes
// and then counts the others (", and 3 more").
struct MetadataTextBounds {
    std::size_t reasonBytes = Unicode::shownTextBytes;
    std::size_t detailBytes = Unicode::shownTextBytes;
};

class MetadataApply {
public:
    using TextBounds = MetadataTextBounds;
    enum class Attribute { ownership, extendedAttributes, acl, modificationTime, creationTime, bsdFlags, mode };
    // The case name: "ownership", "extendedAttributes", ...
    static const char* rawValue(Attribute attribute);

    struct Outcome {
        enum class Kind { unpreserved, partial, applied, notApplicable };
        Kind kind = Kind::applied;
        std::string text;  // unpreserved: the reason; partial: the detail

        static Outcome unpreserved(std::string reason) { return {Kind::unpreserved, std::move(reason)}; }
        static Outcome partial(std::string detail) { return {Kind::partial, std::move(detail)}; }
        static Outcome applied() { return {Kind::applied, {}}; }
        static Outcome notApplicable() { return {Kind::notApplicable, {}}; }
        // "applied", "unpreserved(reason: ...)", ...
        std::string description() const;
        friend bool operator==(const Outcome&, const Outcome&) = default;
    };

    struct AttributeOutcome {
        Attribute attribute;
        Outcome outcome;
        friend bool operator==(const AttributeOutcome&, const AttributeOutcome&) = default;
    };

    struct Report {
        std::vector<AttributeOutcome> outcomes;  // in application order, one per attribute
        const Outcome& outcome(Attribute attribute) const;
    };

    class Error : public wm::Error {
    public:
        enum class Kind { pathUnavailable };
        static Error pathUnavailable(std::string path, std::string reason);

        Kind kind;
        std::string path;
        std::string reason;

    private:
        Error(Kind k, std::string p, std::string r, const std::string& description)
            : wm::Error(description), kind(k), path(std::move(p)), reason(std::move(r)) {}
    };

    // Applies to the entry open as descriptor (a file or a directory). Throws only when the
    // descriptor cannot be examined at all.
    static Report apply(const FileMetadata& metadata, int descriptor, TextBounds bounds = {});

    // Applies to the entry at path (raw bytes), never following a final symbolic link: a
    // link gets its own metadata, never its target's. Throws pathUnavailable when the entry
    // cannot be examined (lstat fails).
    static Report apply(const FileMetadata& metadata, ByteView path, TextBounds bounds = {});

    // Applies to the entry named name (raw bytes, one component) in the folder open as
    // parentDescriptor, never following a final symbolic link. Throws pathUnavailable when
    // the entry cannot be examined.
    static Report apply(const FileMetadata& metadata, int parentDescriptor, ByteView name, TextBounds bounds = {});
};

}  // namespace wm

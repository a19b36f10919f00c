#include "fs/MetadataApply.h"
#include "core/ErrorDescription.h"
#include "core/SystemCall.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <system_error>
#include <utility>

#include "core/BoundedList.h"
#include "core/Localization.h"
#include "core/Unicode.h"

namespace wm {

namespace {

using Outcome = MetadataApply::Outcome;
using Attribute = MetadataApply::Attribute;

std::string joined(const std::vector<std::string>& parts, const char* separator = ", ") {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

// Sentences that each hold one list in place of "%@" (english, marked with WM_N), joined by
// "; ", in at most `bytes`. The lists share what the words leave: each takes an even share of
// what is left to it, or more where the lists after it need less, and always leaves those
// at least their count. Sentences of empty lists are left out.
std::string listSentences(std::vector<std::pair<const char*, const BoundedList*>> parts, std::size_t bytes) {
    std::erase_if(parts, [](const auto& part) { return part.second->empty(); });
    const std::string separator = "; ";
    struct After {
        std::size_t words = 0;  // the words and separators of the sentences from here on
        std::size_t least = 0;  // their lists at their shortest
        std::size_t most = 0;   // their lists at their longest
    };
    std::vector<After> after(parts.size() + 1);
    std::vector<std::string> words;
    for (const auto& [english, list] : parts) words.push_back(Localization::sentence(WM_TEXT_DOMAIN, english, {""}));
    for (std::size_t i = parts.size(); i-- > 0;) {
        const BoundedList& list = *parts[i].second;
        after[i] = {after[i + 1].words + (i ? separator.size() : 0) + words[i].size(),
                    after[i + 1].least + list.leastBytes(), after[i + 1].most + list.text().size()};
    }
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        const std::size_t taken = out.size() + words[i].size() + after[i + 1].words;
        const std::size_t left = bytes > taken ? bytes - taken : 0;
        const std::size_t share =
            std::max(left / (parts.size() - i), left > after[i + 1].most ? left - after[i + 1].most : 0);
        const std::size_t room = std::min(share, left > after[i + 1].least ? left - after[i + 1].least : 0);
        out += Localization::sentence(WM_TEXT_DOMAIN, parts[i].first, {parts[i].second->text(room)});
    }
    return out;
}

std::string procPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// How the entry is reached.
struct Target {
    enum class Via {
        descriptor,      // an ordinary open descriptor: the f* calls
        pathDescriptor,  // an O_PATH descriptor of an entry that is not a symbolic link
        linkInFolder,    // a symbolic link: its folder's descriptor and its name
    };
    Via via = Via::descriptor;
    int fd = -1;       // descriptor or pathDescriptor
    int parent = -1;   // linkInFolder
    std::string name;  // linkInFolder
};

// --- ownership ------------------------------------------------------------------------

Outcome applyOwnership(const FileMetadata& m, const Target& t) {
    int rc = 0;
    switch (t.via) {
    case Target::Via::descriptor: rc = retryingOnInterrupt([&] { return ::fchown(t.fd, m.uid, m.gid); }); break;
    case Target::Via::pathDescriptor:
        rc = retryingOnInterrupt([&] { return ::fchownat(t.fd, "", m.uid, m.gid, AT_EMPTY_PATH); });
        break;
    case Target::Via::linkInFolder:
        rc = retryingOnInterrupt(
            [&] { return ::fchownat(t.parent, t.name.c_str(), m.uid, m.gid, AT_SYMLINK_NOFOLLOW); });
        break;
    }
    if (rc == 0) return Outcome::applied();
    return Outcome::unpreserved(
        WM_L("the owner could not be set to %lld and the group to %lld: %@", m.uid, m.gid, systemErrorText(errno)));
}

// --- extended attributes ----------------------------------------------------------------

bool hasLinuxNamespace(std::string_view name) {
    for (std::string_view prefix : {"user.", "trusted.", "security.", "system."}) {
        if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix) return true;
    }
    return false;
}

int setAttribute(const Target& t, const std::string& name, const Bytes& value) {
    switch (t.via) {
    case Target::Via::descriptor:
        return retryingOnInterrupt([&] { return ::fsetxattr(t.fd, name.c_str(), value.data(), value.size(), 0); });
    case Target::Via::pathDescriptor:
        // The descriptor's /proc entry leads to the entry itself, which is not a link.
        return retryingOnInterrupt(
            [&] { return ::setxattr(procPath(t.fd).c_str(), name.c_str(), value.data(), value.size(), 0); });
    case Target::Via::linkInFolder: {
        const std::string path = procPath(t.parent) + "/" + t.name;
        return retryingOnInterrupt(
            [&] { return ::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0); });
    }
    }
    return -1;
}

Outcome applyExtendedAttributes(const FileMetadata& m, const Target& t, const MetadataApply::TextBounds& bounds) {
    if (m.extendedAttributes.empty()) return Outcome::notApplicable();
    // A file may carry any number of attributes: each list keeps only what its text can show.
    const std::size_t shownBytes = std::max(bounds.reasonBytes, bounds.detailBytes);
    BoundedList renamed(shownBytes);
    BoundedList failed(shownBytes);
    std::size_t setCount = 0;
    for (const auto& attribute : m.extendedAttributes) {
        const std::string original = stringOf(attribute.name);
        const std::string shown = Unicode::decodeUTF8RepairingWithin(attribute.name, Unicode::shownTextBytes);
        if (original.empty() || original.find('\0') != std::string::npos) {
            failed.add(WM_L("\"%@\" (not a valid name)", shown));
            continue;
        }
        const bool linuxName = hasLinuxNamespace(original);
        const std::string name = linuxName ? original : "user." + original;
        if (setAttribute(t, name, attribute.value) != 0) {
            failed.add(WM_L("\"%@\" (%@)", shown, systemErrorText(errno)));
            continue;
        }
        ++setCount;
        if (!linuxName) renamed.add(Unicode::decodeUTF8RepairingWithin(viewOf(name), Unicode::shownTextBytes));
    }
    if (setCount == 0) {
        return Outcome::unpreserved(
            listSentences({{WM_N("no extended attribute could be set: %@"), &failed}}, bounds.reasonBytes));
    }
    if (failed.empty() && renamed.empty()) return Outcome::applied();
    return Outcome::partial(listSentences(
        {{WM_N("not set: %@"), &failed}, {WM_N("kept under the user namespace as %@"), &renamed}}, bounds.detailBytes));
}

// --- ACL ------------------------------------------------------------------------------

Outcome applyACL(const FileMetadata& m, const Target& t) {
    if (!m.acl) return Outcome::notApplicable();
    if (t.via == Target::Via::linkInFolder) {
        return Outcome::unpreserved(WM_L("a symbolic link cannot carry an access control list on Linux"));
    }
    const std::string text = stringOf(*m.acl);
    acl_t acl = text.find('\0') == std::string::npos ? ::acl_from_text(text.c_str()) : nullptr;
    if (!acl) {
        return Outcome::unpreserved(WM_L("the access control list is not in a form Linux can use"));
    }
    int rc = t.via == Target::Via::descriptor ? ::acl_set_fd(t.fd, acl)
                                              : ::acl_set_file(procPath(t.fd).c_str(), ACL_TYPE_ACCESS, acl);
    const int err = errno;
    ::acl_free(acl);
    if (rc == 0) return Outcome::applied();
    return Outcome::unpreserved(WM_L("the access control list could not be set: %@", systemErrorText(err)));
}

// --- times ----------------------------------------------------------------------------

Outcome applyModificationTime(const FileMetadata& m, const Target& t) {
    // The system's markers for "now" and "leave unchanged" lie in this range: such a value
    // would be taken as one of them and the recorded time silently lost.
    if (m.modificationTime.nanoseconds >= 1'000'000'000)
        return Outcome::unpreserved(WM_L("the backup records a modification time that cannot be a time"));
    struct timespec times[2];
    if (m.accessTime) {
        times[0].tv_sec = static_cast<time_t>(m.accessTime->seconds);
        times[0].tv_nsec = static_cast<long>(m.accessTime->nanoseconds);
    } else {
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
    }
    times[1].tv_sec = static_cast<time_t>(m.modificationTime.seconds);
    times[1].tv_nsec = static_cast<long>(m.modificationTime.nanoseconds);
    int rc = 0;
    switch (t.via) {
    case Target::Via::descriptor: rc = retryingOnInterrupt([&] { return ::futimens(t.fd, times); }); break;
    case Target::Via::pathDescriptor:
        rc = retryingOnInterrupt([&] { return ::utimensat(AT_FDCWD, procPath(t.fd).c_str(), times, 0); });
        break;
    case Target::Via::linkInFolder:
        rc = retryingOnInterrupt([&] { return ::utimensat(t.parent, t.name.c_str(), times, AT_SYMLINK_NOFOLLOW); });
        break;
    }
    if (rc == 0) return Outcome::applied();
    return Outcome::unpreserved(WM_L("the modification time could not be set: %@", systemErrorText(errno)));
}

// --- BSD flags ------------------------------------------------------------------------

// The flags step runs in two parts: nodump at its place in the order, immutable and
// append-only after the mode (a file that carries them refuses every later change).
struct FlagsPlan {
    std::uint32_t wanted = 0;
    std::uint32_t unkept = 0;  // bits Linux has no flag for
    int early = 0;             // Linux flags set at the flags step
    int late = 0;              // Linux flags set after the mode
    std::vector<std::string> failures;
    bool anyApplied = false;
};

std::string flagsFailure(int err) {
    if (err == ENOTTY || err == EOPNOTSUPP || err == EINVAL || err == ENOSYS) {
        return WM_L("this file system keeps no such flags");
    }
    return systemErrorText(err);
}

// Sets the Linux flags that stand for the BSD bits of bsdBits.
void setLinuxFlags(const Target& t, int linuxFlags, std::uint32_t bsdBits, FlagsPlan& plan) {
    if (linuxFlags == 0) return;
    auto fail = [&](int err) {
        plan.failures.push_back(WM_L("%@ (%@)", joined(BSDFlags::names(bsdBits)), flagsFailure(err)));
    };
    int current = 0;
    if (retryingOnInterrupt([&] { return ::ioctl(t.fd, FS_IOC_GETFLAGS, &current); }) != 0) {
        fail(errno);
        return;
    }
    int updated = current | linuxFlags;
    if (updated != current && retryingOnInterrupt([&] { return ::ioctl(t.fd, FS_IOC_SETFLAGS, &updated); }) != 0) {
        fail(errno);
        return;
    }
    plan.anyApplied = true;
}

FlagsPlan planFlags(std::uint32_t flags) {
    FlagsPlan plan;
    plan.wanted = flags;
    plan.unkept = flags & ~BSDFlags::keptOnLinux;
    if (flags & BSDFlags::userNoDump) plan.early |= FS_NODUMP_FL;
    if (flags & (BSDFlags::userImmutable | BSDFlags::systemImmutable)) plan.late |= FS_IMMUTABLE_FL;
    if (flags & (BSDFlags::userAppend | BSDFlags::systemAppend)) plan.late |= FS_APPEND_FL;
    return plan;
}

Outcome flagsOutcome(const FlagsPlan& plan, const Target& t) {
    if (plan.wanted == 0) return Outcome::notApplicable();
    const std::string unkeptNames = joined(BSDFlags::names(plan.unkept));
    if (plan.early == 0 && plan.late == 0) {
        return Outcome::unpreserved(WM_L("Linux has no flags for %@", unkeptNames));
    }
    if (t.via != Target::Via::descriptor) {
        return Outcome::unpreserved(WM_L("flags cannot be set on this entry on Linux"));
    }
    if (!plan.anyApplied) {
        return Outcome::unpreserved(
            WM_L("the flags could not be set: %@", joined(plan.failures, "; ")) +
            (plan.unkept ? "; " + WM_L("Linux has no flags for %@", unkeptNames) : std::string()));
    }
    std::vector<std::string> details;
    if (!plan.failures.empty()) details.push_back(WM_L("not set: %@", joined(plan.failures, "; ")));
    if (plan.unkept != 0) details.push_back(WM_L("Linux has no flags for %@", unkeptNames));
    if (details.empty()) return Outcome::applied();
    return Outcome::partial(joined(details, "; "));
}

// --- mode -----------------------------------------------------------------------------

Outcome applyMode(const FileMetadata& m, const Target& t) {
    if (t.via == Target::Via::linkInFolder || m.fileType == FileMetadata::FileType::symlink) {
        return Outcome::notApplicable();
    }
    const mode_t wanted = static_cast<mode_t>(m.mode & 07777);
    int rc = t.via == Target::Via::descriptor
                 ? retryingOnInterrupt([&] { return ::fchmod(t.fd, wanted); })
                 : retryingOnInterrupt([&] { return ::fchmodat(AT_FDCWD, procPath(t.fd).c_str(), wanted, 0); });
    if (rc != 0) return Outcome::unpreserved(WM_L("the permissions could not be set: %@", systemErrorText(errno)));
    // The system drops set-group-ID silently for a group the process is not in.
    struct stat st {};
    const int statRc = t.via == Target::Via::descriptor ? ::fstat(t.fd, &st) : ::fstatat(t.fd, "", &st, AT_EMPTY_PATH);
    if (statRc == 0 && (st.st_mode & 07777) != wanted) {
        std::vector<std::string> lost;
        const mode_t missing = wanted & ~(st.st_mode & 07777);
        if (missing & S_ISUID) lost.push_back("set-user-ID");
        if (missing & S_ISGID) lost.push_back("set-group-ID");
        if (missing & S_ISVTX) lost.push_back("sticky");
        if (lost.empty()) lost.push_back(WM_L("some permission bits"));
        return Outcome::partial(WM_L("the permissions were set without %@", joined(lost)));
    }
    return Outcome::applied();
}

// --- the whole record -------------------------------------------------------------------

MetadataApply::Report applyAll(const FileMetadata& m, const Target& t, const MetadataApply::TextBounds& bounds) {
    MetadataApply::Report report;
    report.outcomes.reserve(7);
    report.outcomes.push_back({Attribute::ownership, applyOwnership(m, t)});
    report.outcomes.push_back({Attribute::extendedAttributes, applyExtendedAttributes(m, t, bounds)});
    report.outcomes.push_back({Attribute::acl, applyACL(m, t)});
    report.outcomes.push_back({Attribute::modificationTime, applyModificationTime(m, t)});
    // Linux keeps a birth time but offers no call that sets it: a recorded one is not put back.
    report.outcomes.push_back(
        {Attribute::creationTime,
         m.birthTime ? Outcome::unpreserved(WM_L("Linux cannot set a creation time")) : Outcome::notApplicable()});

    FlagsPlan flags = planFlags(m.bsdFlags);
    const bool canSetFlags = t.via == Target::Via::descriptor;
    const std::uint32_t earlyBits = m.bsdFlags & BSDFlags::userNoDump;
    const std::uint32_t lateBits = m.bsdFlags & BSDFlags::keptOnLinux & ~BSDFlags::userNoDump;
    if (canSetFlags) setLinuxFlags(t, flags.early, earlyBits, flags);
    const std::size_t flagsIndex = report.outcomes.size();
    report.outcomes.push_back({Attribute::bsdFlags, Outcome::notApplicable()});
    report.outcomes.push_back({Attribute::mode, applyMode(m, t)});
    if (canSetFlags) setLinuxFlags(t, flags.late, lateBits, flags);
    report.outcomes[flagsIndex].outcome = flagsOutcome(flags, t);
    return report;
}

bool isSingleName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// Opens the entry (not a symbolic link) that st describes, in parent (or by path when parent
// is AT_FDCWD), and applies to it. Regular files and folders are opened for reading; other
// entries (and those that refuse reading) are reached through an O_PATH descriptor, so
// opening a device or a pipe never has side effects.
MetadataApply::Report applyToEntry(const FileMetadata& m, int parent, const std::string& name, const struct stat& st,
                                   const std::string& shown, const MetadataApply::TextBounds& bounds) {
    int fd = -1;
    Target target;
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        fd = retryingOnInterrupt(
            [&] { return ::openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
    }
    if (fd >= 0) {
        target.via = Target::Via::descriptor;
    } else {
        fd = retryingOnInterrupt([&] { return ::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); });
        if (fd < 0) throw MetadataApply::Error::pathUnavailable(shown, systemErrorText(errno));
        target.via = Target::Via::pathDescriptor;
    }
    UniqueFd owned(fd);
    target.fd = fd;
    struct stat now {};
    const int rc = target.via == Target::Via::descriptor ? ::fstat(fd, &now) : ::fstatat(fd, "", &now, AT_EMPTY_PATH);
    if (rc != 0) throw MetadataApply::Error::pathUnavailable(shown, systemErrorText(errno));
    if (now.st_dev != st.st_dev || now.st_ino != st.st_ino || S_ISLNK(now.st_mode)) {
        throw MetadataApply::Error::pathUnavailable(shown, WM_L("the entry changed while it was being examined"));
    }
    return applyAll(m, target, bounds);
}

MetadataApply::Report applyInFolder(const FileMetadata& m, int parent, const std::string& name,
                                    const std::string& shown, const MetadataApply::TextBounds& bounds) {
    struct stat st {};
    if (retryingOnInterrupt([&] { return ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW); }) != 0) {
        throw MetadataApply::Error::pathUnavailable(shown, systemErrorText(errno));
    }
    if (S_ISLNK(st.st_mode)) {
        Target target;
        target.via = Target::Via::linkInFolder;
        target.parent = parent;
        target.name = name;
        return applyAll(m, target, bounds);
    }
    return applyToEntry(m, parent, name, st, shown, bounds);
}

}  // namespace

const char* MetadataApply::rawValue(Attribute attribute) {
    switch (attribute) {
    case Attribute::ownership: return "ownership";
    case Attribute::extendedAttributes: return "extendedAttributes";
    case Attribute::acl: return "acl";
    case Attribute::modificationTime: return "modificationTime";
    case Attribute::creationTime: return "creationTime";
    case Attribute::bsdFlags: return "bsdFlags";
    case Attribute::mode: return "mode";
    }
    return "ownership";
}

std::string MetadataApply::Outcome::description() const {
    switch (kind) {
    case Kind::unpreserved: return "unpreserved(reason: " + text + ")";
    case Kind::partial: return "partial(detail: " + text + ")";
    case Kind::applied: return "applied";
    case Kind::notApplicable: return "notApplicable";
    }
    return "applied";
}

const MetadataApply::Outcome& MetadataApply::Report::outcome(Attribute attribute) const {
    for (const auto& o : outcomes) {
        if (o.attribute == attribute) return o.outcome;
    }
    static const Outcome none = Outcome::notApplicable();
    return none;
}

MetadataApply::Error MetadataApply::Error::pathUnavailable(std::string path, std::string reason) {
    std::string description =
        ErrorDescription("MetadataApply.Error", "pathUnavailable").add("path", path).add("reason", reason);
    return Error(Kind::pathUnavailable, std::move(path), std::move(reason), description);
}

MetadataApply::Report MetadataApply::apply(const FileMetadata& metadata, int descriptor, TextBounds bounds) {
    struct stat st {};
    if (::fstat(descriptor, &st) != 0) {
        throw Error::pathUnavailable(WM_L("descriptor %lld", descriptor), systemErrorText(errno));
    }
    Target target;
    target.fd = descriptor;
    const int flags = ::fcntl(descriptor, F_GETFL);
    target.via = (flags != -1 && (flags & O_PATH)) ? Target::Via::pathDescriptor : Target::Via::descriptor;
    return applyAll(metadata, target, bounds);
}

MetadataApply::Report MetadataApply::apply(const FileMetadata& metadata, ByteView path, TextBounds bounds) {
    std::string text = stringOf(path);
    const std::string shown = Unicode::decodeUTF8RepairingWithin(path, Unicode::shownTextBytes);
    if (text.empty() || text.find('\0') != std::string::npos) {
        throw Error::pathUnavailable(shown, systemErrorText(text.empty() ? ENOENT : EINVAL));
    }
    struct stat st {};
    if (retryingOnInterrupt([&] { return ::lstat(text.c_str(), &st); }) != 0) {
        throw Error::pathUnavailable(shown, systemErrorText(errno));
    }
    if (!S_ISLNK(st.st_mode)) return applyToEntry(metadata, AT_FDCWD, text, st, shown, bounds);

    // A symbolic link (its path has no trailing "/", or lstat would have followed it) is
    // reached through its folder and its name.
    const auto slash = text.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : text.substr(0, slash));
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    UniqueFd parent(retryingOnInterrupt([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (parent.get() < 0) throw Error::pathUnavailable(shown, systemErrorText(errno));
    return applyInFolder(metadata, parent.get(), name, shown, bounds);
}

MetadataApply::Report MetadataApply::apply(const FileMetadata& metadata, int parentDescriptor, ByteView name,
                                           TextBounds bounds) {
    const std::string text = stringOf(name);
    const std::string shown = Unicode::decodeUTF8RepairingWithin(name, Unicode::shownTextBytes);
    if (!isSingleName(text)) throw Error::pathUnavailable(shown, systemErrorText(EINVAL));
    return applyInFolder(metadata, parentDescriptor, text, shown, bounds);
}

}  // namespace wm

#include "storage/DestinationError.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace wm {
namespace {

using Kind = DestinationError::Kind;
using Op = DestinationError::Operation;

TEST(DestinationError, ErrnoMapsToCases) {
    const RepoPath path = RepoPath() / "packs" / "ab";
    struct Row {
        int err;
        Op op;
        Kind kind;
    };
    const std::vector<Row> rows = {
        {ENOENT, Op::read, Kind::notFound},         {EACCES, Op::read, Kind::permissionDenied},
        {EPERM, Op::write, Kind::permissionDenied}, {EROFS, Op::write, Kind::permissionDenied},
        {ENOSPC, Op::write, Kind::outOfSpace},      {EDQUOT, Op::write, Kind::outOfSpace},
        {ENAMETOOLONG, Op::write, Kind::pathTooLong}, {EINTR, Op::read, Kind::interrupted},
        {EIO, Op::read, Kind::ioFailed},            {EIO, Op::write, Kind::writeFailed},
        {EIO, Op::rename, Kind::renameFailed},      {EXDEV, Op::rename, Kind::renameFailed},
        {ENOTDIR, Op::read, Kind::ioFailed},
    };
    // A long name hits the component limit, a long path the path limit.
    EXPECT_EQ(DestinationError::fromErrno(ENAMETOOLONG, RepoPath() / std::string(300, 'a'), Op::write).limit, 255);
    EXPECT_EQ(DestinationError::fromErrno(ENAMETOOLONG, RepoPath() / "a" / "b", Op::write).limit, 4096);
    for (const auto& row : rows) {
        auto e = DestinationError::fromErrno(row.err, path, row.op, 10, 5);
        EXPECT_EQ(e.kind, row.kind) << "errno " << row.err;
        if (e.kind == Kind::outOfSpace) {
            EXPECT_EQ(e.needed, 10);
            EXPECT_EQ(e.available, 5);
        }
        if (e.kind == Kind::ioFailed || e.kind == Kind::writeFailed || e.kind == Kind::renameFailed) {
            EXPECT_FALSE(e.underlying.empty());
            EXPECT_EQ(e.path, path);
        }
    }
}

TEST(DestinationError, DescriptionsNameTheCaseAndNeverClaimARetentionHold) {
    const RepoPath p = RepoPath() / "refs" / "head";
    const std::vector<std::pair<DestinationError, std::string>> rows = {
        {DestinationError::notFound(p), "DestinationError.notFound(refs/head)"},
        {DestinationError::unavailable(DestinationID{}, Availability::notMounted("Backup")),
         "DestinationError.unavailable(00000000-0000-0000-0000-000000000000, notMounted(volumeName: Backup))"},
        {DestinationError::permissionDenied(p), "DestinationError.permissionDenied(refs/head)"},
        {DestinationError::outOfSpace(2500000, std::nullopt), "DestinationError.outOfSpace(needed: 2500000, available: nil)"},
        {DestinationError::shortRead(p, 10, 4), "DestinationError.shortRead(refs/head, expected: 10, got: 4)"},
        {DestinationError::ioFailed(p, "Input/output error"), "DestinationError.ioFailed(refs/head, underlying: Input/output error)"},
        {DestinationError::writeFailed(p, "x"), "DestinationError.writeFailed(refs/head, underlying: x)"},
        {DestinationError::renameFailed(p, "x"), "DestinationError.renameFailed(refs/head, underlying: x)"},
        {DestinationError::pathTooLong(p, 255), "DestinationError.pathTooLong(refs/head, limit: 255)"},
        {DestinationError::interrupted(), "DestinationError.interrupted"},
    };
    for (const auto& [error, text] : rows) {
        EXPECT_EQ(std::string(error.what()), text);
        EXPECT_EQ(std::string(error.what()).find("retention expires"), std::string::npos);
    }
}

}  // namespace
}  // namespace wm

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

}  // namespace
}  // namespace wm

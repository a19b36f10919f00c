// Writes that the disk refuses. pwrite is replaced for this test program by a version
// that forwards to the system call unless a test asks it to fail, so the restore's own
// handling of a full disk and of a write that takes nothing can be seen.
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>

#include "restore/FakeBackup.h"
#include "restore/RestoreCoordinator.h"
#include "restore/RestoreTestSupport.h"

namespace {
enum class WriteFault { none, takesNothing, diskFull, shortWrites };
std::atomic<WriteFault> writeFault{WriteFault::none};
std::atomic<int> writeCalls{0};
}  // namespace

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    ++writeCalls;
    switch (writeFault.load()) {
    case WriteFault::takesNothing: return 0;
    case WriteFault::diskFull: errno = ENOSPC; return -1;
    case WriteFault::shortWrites: count = count > 3 ? 3 : count; break;
    case WriteFault::none: break;
    }
    return ::syscall(SYS_pwrite64, fd, buffer, count, offset);
}

namespace wm {
namespace {

namespace fs = std::filesystem;
using test::FakeBackup;
using test::fileEntry;
using test::Sandbox;

class WriteFaultTest : public ::testing::Test {
protected:
    Sandbox box;
    FakeBackup backup;
    void TearDown() override { writeFault = WriteFault::none; }

    RestoreCoordinator::Result restoreWith(WriteFault fault) {
        Sandbox::writeFile(box.target() / "existing", "keep me");
        backup.setRoot(backup.addTree({fileEntry("f", {backup.add("some content")}, 12)}));
        writeFault = fault;
        writeCalls = 0;
        auto r = RestoreCoordinator().restore(SnapshotID{}, backup, box.target(), {});
        writeFault = WriteFault::none;
        return r;
    }
};

TEST_F(WriteFaultTest, AWriteThatTakesNothingFailsInsteadOfRetryingForEver) {
    auto r = restoreWith(WriteFault::takesNothing);
    EXPECT_EQ(writeCalls.load(), 1);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].reason,
              "Something went wrong: destinationNotUsable(\"the disk took none of the bytes written\")");
    EXPECT_FALSE(fs::exists(box.target() / "f"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "existing"), "keep me");
}

TEST_F(WriteFaultTest, FullDiskIsAFailureWithTheSystemsReason) {
    auto r = restoreWith(WriteFault::diskFull);
    ASSERT_EQ(r.failures.size(), 1u);
    EXPECT_EQ(r.failures[0].reason, "Something went wrong: destinationNotUsable(\"No space left on device\")");
    EXPECT_FALSE(fs::exists(box.target() / "f"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "existing"), "keep me");
}

TEST_F(WriteFaultTest, ShortWritesGoOnWithTheRest) {
    auto r = restoreWith(WriteFault::shortWrites);
    EXPECT_TRUE(r.isComplete());
    EXPECT_EQ(writeCalls.load(), 4);
    EXPECT_EQ(Sandbox::readFile(box.target() / "f"), "some content");
}

}  // namespace
}  // namespace wm

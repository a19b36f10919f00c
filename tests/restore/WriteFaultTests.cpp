// pwrite is replaced for this program by one that fails on request.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

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

using namespace test;
using WriteFaultTest = RestoreFixture;

// A write that takes nothing fails at once instead of retrying for ever; a short write goes on.
TEST_F(WriteFaultTest, TakesNothingDiskFullAndShortWrites) {
    const std::tuple<WriteFault, std::string, int> cases[] = {
        // fault, failure ("": restored whole), calls
        {WriteFault::takesNothing, notWritten("the disk took none of the bytes written"), 1},
        {WriteFault::diskFull, notWritten("No space left on device"), 1},
        {WriteFault::shortWrites, "", 4},
    };
    box.writeFile(box.target() / "existing", "keep me");
    backup.setRoot(backup.addTree({fileEntry("f", {backup.add("some content")}, 12)}));
    for (const auto& [fault, failure, calls] : cases) {
        writeFault = fault;
        writeCalls = 0;
        Result r = restore();
        writeFault = WriteFault::none;
        EXPECT_EQ(writeCalls.load(), calls) << failure;
        EXPECT_EQ(failureReasons(r), failure.empty() ? Strings{} : Strings{failure});
        EXPECT_EQ(std::filesystem::exists(box.target() / "f"), failure.empty()) << failure;
        std::filesystem::remove(box.target() / "f");
        EXPECT_EQ(stringOf(box.readFile(box.target() / "existing")), "keep me");
    }
}

}  // namespace
}  // namespace wm

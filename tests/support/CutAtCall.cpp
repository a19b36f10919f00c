// Preloaded into a tool (LD_PRELOAD) to stop it dead at one call that changes the file system,
// so that a test can see what a run cut at that moment leaves. It links nothing of the project.
//
//   WM_CUT_CALL=<name> WM_CUT_AT=<k>  the process kills itself with SIGKILL at the entry of the
//                                     k-th call of that name, before the call runs
//   WM_CUT_WITHIN=1                   for write and pwrite: half the bytes are written first
//   WM_CUT_COUNT_FILE=<path>          at exit, "<name> <count>" for every name, one a line
//
// Calls are counted per name and process. write and pwrite count only writes to regular files
// (pwrite64 counts as pwrite). The calls glibc makes inside itself are not seen.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

constexpr const char* names[] = {"mkdir", "mkdirat", "fsync",  "fdatasync", "rename", "renameat", "renameat2",
                                 "link",  "linkat",  "unlink", "unlinkat",  "write",  "pwrite"};
constexpr int callCount = sizeof names / sizeof names[0];

constexpr int callNamed(std::string_view name) {
    for (int c = 0; c < callCount; ++c)
        if (name == names[c]) return c;
    return -1;
}

std::atomic<unsigned long> counts[callCount];
int cutCall = -1;  // set once, before the program's own code runs
unsigned long cutAt = 0;
bool cutWithin = false;

__attribute__((constructor)) void readSettings() {
    const char* name = std::getenv("WM_CUT_CALL");
    const char* at = std::getenv("WM_CUT_AT");
    if (name == nullptr || at == nullptr) return;
    cutCall = callNamed(name);
    cutAt = std::strtoul(at, nullptr, 10);
    const char* within = std::getenv("WM_CUT_WITHIN");
    cutWithin = within != nullptr && std::string_view(within) == "1";
}

template <class Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Counts the call; true when it is the one to cut.
bool counted(int call) { return counts[call].fetch_add(1) + 1 == cutAt && call == cutCall; }

[[noreturn]] void die() {
    ::kill(::getpid(), SIGKILL);
    for (;;) ::pause();
}

void enter(int call) {
    if (counted(call)) die();
}

bool regularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

__attribute__((destructor)) void writeCounts() {
    const char* path = std::getenv("WM_CUT_COUNT_FILE");
    if (path == nullptr) return;
    char text[1024];
    std::size_t used = 0;
    for (int c = 0; c < callCount; ++c)
        used += static_cast<std::size_t>(
            std::snprintf(text + used, sizeof text - used, "%s %lu\n", names[c], counts[c].load()));
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    static const auto realWrite = next<ssize_t (*)(int, const void*, size_t)>("write");
    if (realWrite(fd, text, used) < 0) std::perror("CutAtCall");
    ::close(fd);
}

}  // namespace

extern "C" {

int mkdir(const char* path, mode_t mode) noexcept {
    static const auto real = next<int (*)(const char*, mode_t)>("mkdir");
    enter(callNamed("mkdir"));
    return real(path, mode);
}

int mkdirat(int at, const char* path, mode_t mode) noexcept {
    static const auto real = next<int (*)(int, const char*, mode_t)>("mkdirat");
    enter(callNamed("mkdirat"));
    return real(at, path, mode);
}

int fsync(int fd) {
    static const auto real = next<int (*)(int)>("fsync");
    enter(callNamed("fsync"));
    return real(fd);
}

int fdatasync(int fd) {
    static const auto real = next<int (*)(int)>("fdatasync");
    enter(callNamed("fdatasync"));
    return real(fd);
}

int rename(const char* from, const char* to) noexcept {
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    enter(callNamed("rename"));
    return real(from, to);
}

int renameat(int fromAt, const char* from, int toAt, const char* to) noexcept {
    static const auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    enter(callNamed("renameat"));
    return real(fromAt, from, toAt, to);
}

int renameat2(int fromAt, const char* from, int toAt, const char* to, unsigned flags) noexcept {
    static const auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    enter(callNamed("renameat2"));
    return real(fromAt, from, toAt, to, flags);
}

int link(const char* from, const char* to) noexcept {
    static const auto real = next<int (*)(const char*, const char*)>("link");
    enter(callNamed("link"));
    return real(from, to);
}

int linkat(int fromAt, const char* from, int toAt, const char* to, int flags) noexcept {
    static const auto real = next<int (*)(int, const char*, int, const char*, int)>("linkat");
    enter(callNamed("linkat"));
    return real(fromAt, from, toAt, to, flags);
}

int unlink(const char* path) noexcept {
    static const auto real = next<int (*)(const char*)>("unlink");
    enter(callNamed("unlink"));
    return real(path);
}

int unlinkat(int at, const char* path, int flags) noexcept {
    static const auto real = next<int (*)(int, const char*, int)>("unlinkat");
    enter(callNamed("unlinkat"));
    return real(at, path, flags);
}

ssize_t write(int fd, const void* bytes, size_t size) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    if (regularFile(fd) && counted(callNamed("write"))) {
        if (cutWithin) real(fd, bytes, size / 2);
        die();
    }
    return real(fd, bytes, size);
}

ssize_t pwrite(int fd, const void* bytes, size_t size, off_t offset) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (regularFile(fd) && counted(callNamed("pwrite"))) {
        if (cutWithin) real(fd, bytes, size / 2, offset);
        die();
    }
    return real(fd, bytes, size, offset);
}

ssize_t pwrite64(int fd, const void* bytes, size_t size, off64_t offset) { return pwrite(fd, bytes, size, offset); }

}  // extern "C"

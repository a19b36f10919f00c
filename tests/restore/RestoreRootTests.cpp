#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "restore/PathSafetyViolation.h"
#include "restore/RestoreRoot.h"
#include "restore/RestoreTestSupport.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using K = PathSafetyViolation::Kind;
using test::Sandbox;
using test::openDescriptors;

std::vector<SafeName> P(std::initializer_list<std::string> names) {
    std::vector<SafeName> path;
    for (const auto& n : names) path.emplace_back(n);
    return path;
}

// The violation a call throws; fails the test when it throws none.
PathSafetyViolation refusal(const std::function<void()>& call) {
    try {
        call();
    } catch (const PathSafetyViolation& v) {
        return v;
    }
    ADD_FAILURE() << "no violation thrown";
    return PathSafetyViolation::emptyName();
}

class RestoreRootTest : public ::testing::Test {
protected:
    // Opening a named pipe would block: end the run instead of hanging it.
    void SetUp() override { ::alarm(60); }
    void TearDown() override { ::alarm(0); }
    Sandbox box;
    RestoreRoot root{box.target(), 512, 4096};
};

TEST_F(RestoreRootTest, CreatesFoldersFilesLinksAndHardLinksInsideTheTarget) {
    root.ensureDirectoryExists(P({"a", "b"}), 0755);
    int fd = root.createFile(P({"a", "b", "f"}), 0640);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "hi", 2), 2);
    ::close(fd);
    root.createSymlink(P({"c", "link"}), viewOf("../a/b/f"));  // parent made on the way
    root.createHardLink(P({"d", "g"}), P({"a", "b", "f"}));

    EXPECT_EQ(Sandbox::readFile(box.target() / "a/b/f"), "hi");
    EXPECT_EQ(fs::read_symlink(box.target() / "c/link"), "../a/b/f");
    EXPECT_TRUE(fs::equivalent(box.target() / "d/g", box.target() / "a/b/f"));
    EXPECT_EQ(fs::hard_link_count(box.target() / "a/b/f"), 2u);

    ::umask(022);
    ::close(root.createFile(P({"s"}), 06755));  // set-ID bits are never requested
    EXPECT_EQ(test::describe(box.target() / "s"), "755 file 0");
}

TEST_F(RestoreRootTest, AFileDirectlyInTheTargetLeavesNoDescriptorBehind) {
    const int before = openDescriptors();
    for (int i = 0; i < 20; ++i) ::close(root.createFile(P({"f" + std::to_string(i)}), 0644));
    root.ensureDirectoryExists(P({"x", "y", "z"}), 0755);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(fs::is_regular_file(box.target() / "f19"));
}

TEST_F(RestoreRootTest, LimitsOnDepthAndLength) {
    EXPECT_EQ(refusal([&] { root.ensureDirectoryExists({}, 0755); }).kind, K::emptyName);
    EXPECT_EQ(refusal([&] { ::close(root.createFile({}, 0644)); }).kind, K::emptyName);

    RestoreRoot small(box.target(), 3, 10);
    small.ensureDirectoryExists(P({"a", "b", "c"}), 0755);  // exactly 3 components passes
    auto tooDeep = refusal([&] { small.ensureDirectoryExists(P({"a", "b", "c", "d"}), 0755); });
    EXPECT_EQ(tooDeep, PathSafetyViolation::tooManyComponents(3));
    EXPECT_FALSE(fs::exists(box.target() / "a/b/c/d"));

    // "abcd" + "efgh" + one separator each = 10 bytes: passes; one byte more does not.
    ::close(small.createFile(P({"abcd", "efgh"}), 0644));
    auto tooLong = refusal([&] { ::close(small.createFile(P({"abcd", "efghi"}), 0644)); });
    EXPECT_EQ(tooLong, PathSafetyViolation::pathTooLong(10));
    EXPECT_FALSE(fs::exists(box.target() / "abcd/efghi"));
    // The limit is checked for the existing path of a hard link too.
    EXPECT_EQ(refusal([&] { small.createHardLink(P({"n"}), P({"abcd", "efghi"})); }).kind, K::pathTooLong);
}

TEST_F(RestoreRootTest, SymbolicLinkOnTheWayIsRefusedAndNotFollowed) {
    fs::create_directory(box.target() / "real");
    fs::create_directory_symlink(box.outside(), box.target() / "out");
    fs::create_directory_symlink("real", box.target() / "in");  // even one pointing inside
    fs::create_directories(box.target() / "a");
    fs::create_directory_symlink(box.outside(), box.target() / "a/deeper");
    const auto before = test::listTree(box.outside());

    EXPECT_EQ(refusal([&] { ::close(root.createFile(P({"out", "f"}), 0644)); }),
              PathSafetyViolation::symlinkComponent("out", 0));
    EXPECT_EQ(refusal([&] { root.ensureDirectoryExists(P({"in", "x"}), 0755); }),
              PathSafetyViolation::symlinkComponent("in", 0));
    EXPECT_EQ(refusal([&] { root.createSymlink(P({"a", "deeper", "l"}), viewOf("/")); }),
              PathSafetyViolation::symlinkComponent("deeper", 1));
    EXPECT_EQ(refusal([&] { root.createHardLink(P({"a", "deeper", "h"}), P({"x"})); }),
              PathSafetyViolation::symlinkComponent("deeper", 1));
    ::close(root.createFile(P({"real", "f"}), 0644));
    EXPECT_EQ(refusal([&] { root.createHardLink(P({"out", "h"}), P({"real", "f"})); }),
              PathSafetyViolation::symlinkComponent("out", 0));
    EXPECT_EQ(refusal([&] { ::close(root.ensureDirectoryExistsReturningDescriptor(P({"out"}), 0755)); }),
              PathSafetyViolation::symlinkComponent("out", 0));
    EXPECT_EQ(test::listTree(box.outside()), before);
}

TEST_F(RestoreRootTest, SomethingElseInPlaceOfAFolder) {
    Sandbox::writeFile(box.target() / "file", "keep");
    ASSERT_EQ(::mkfifo((box.target() / "pipe").c_str(), 0644), 0);
    EXPECT_EQ(refusal([&] { root.ensureDirectoryExists(P({"file", "x"}), 0755); }),
              PathSafetyViolation::unexpectedNonDirectory("file"));
    EXPECT_EQ(refusal([&] { ::close(root.createFile(P({"pipe", "x"}), 0644)); }),
              PathSafetyViolation::unexpectedNonDirectory("pipe"));
    EXPECT_EQ(Sandbox::readFile(box.target() / "file"), "keep");
}

TEST_F(RestoreRootTest, ExistingEntriesAreNeverReplacedAndNamedPipesNeverOpened) {
    Sandbox::writeFile(box.target() / "file", "keep");
    Sandbox::writeFile(box.outside() / "secret", "outside");
    fs::create_symlink(box.outside() / "secret", box.target() / "link");
    fs::create_symlink(box.outside() / "missing", box.target() / "dangling");
    ASSERT_EQ(::mkfifo((box.target() / "pipe").c_str(), 0644), 0);
    fs::create_directory(box.target() / "dir");
    const auto before = test::listTree(box.path());

    struct Case {
        const char* name;
        PathSafetyViolation expected;
    };
    const Case cases[] = {
        {"file", PathSafetyViolation::targetAlreadyExists("file")},
        {"link", PathSafetyViolation::existingSymlinkAtTarget("link")},
        {"dangling", PathSafetyViolation::existingSymlinkAtTarget("dangling")},
        {"pipe", PathSafetyViolation::targetAlreadyExists("pipe")},  // would block if opened for reading
        {"dir", PathSafetyViolation::targetAlreadyExists("dir")},
    };
    ::close(root.createFile(P({"source"}), 0644));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusal([&] { ::close(root.createFile(P({c.name}), 0644)); }), c.expected);
        EXPECT_EQ(refusal([&] { root.createSymlink(P({c.name}), viewOf("x")); }), c.expected);
        EXPECT_EQ(refusal([&] { root.createHardLink(P({c.name}), P({"source"})); }), c.expected);
    }
    auto after = test::listTree(box.path());
    after.erase("target/source");
    auto expected = before;
    expected.erase("target");  // its own times change when "source" is added
    after.erase("target");
    EXPECT_EQ(after, expected);
}

TEST_F(RestoreRootTest, NulInSymlinkTargetCreatesNothing) {
    auto v = refusal([&] { root.createSymlink(P({"new", "l"}), viewOf(std::string("a\0b", 3))); });
    EXPECT_EQ(v, PathSafetyViolation::nulByteInSymlinkTarget("l"));
    EXPECT_FALSE(fs::exists(box.target() / "new"));
    root.createSymlink(P({"empty-ok"}), viewOf("target-bytes-\xff"));
    EXPECT_EQ(fs::read_symlink(box.target() / "empty-ok").string(), "target-bytes-\xff");
}

TEST_F(RestoreRootTest, HardLinkSourcesThatAreMissingOrSymbolicLinks) {
    EXPECT_EQ(refusal([&] { root.createHardLink(P({"n"}), P({"nofolder", "f"})); }),
              PathSafetyViolation::componentDoesNotExist("nofolder"));
    root.ensureDirectoryExists(P({"folder"}), 0755);
    EXPECT_EQ(refusal([&] { root.createHardLink(P({"n"}), P({"folder", "f"})); }),
              PathSafetyViolation::linkSourceDoesNotExist("f"));
    EXPECT_FALSE(fs::exists(box.target() / "n"));
    // A hard link to a symbolic link links the link itself.
    Sandbox::writeFile(box.outside() / "secret", "outside");
    root.createSymlink(P({"l"}), viewOf((box.outside() / "secret").string()));
    root.createHardLink(P({"h"}), P({"l"}));
    EXPECT_TRUE(fs::is_symlink(box.target() / "h"));
    EXPECT_EQ(fs::hard_link_count(box.outside() / "secret"), 1u);
}

TEST_F(RestoreRootTest, RemovesOnlyTheVeryFileItCreated) {
    int fd = root.createFile(P({"d", "f"}), 0644);
    EXPECT_TRUE(root.removeCreatedFile(P({"d", "f"}), fd));
    ::close(fd);
    EXPECT_FALSE(fs::exists(box.target() / "d/f"));
    EXPECT_TRUE(fs::is_directory(box.target() / "d"));  // folders made on the way stay

    // The name was replaced by another file meanwhile: that one stays.
    fd = root.createFile(P({"d", "g"}), 0644);
    fs::remove(box.target() / "d/g");
    Sandbox::writeFile(box.target() / "d/g", "someone else's");
    EXPECT_FALSE(root.removeCreatedFile(P({"d", "g"}), fd));
    ::close(fd);
    EXPECT_EQ(Sandbox::readFile(box.target() / "d/g"), "someone else's");

    // The folder was swapped for a link to outside: nothing is followed or removed.
    fd = root.createFile(P({"e", "f"}), 0644);
    fs::rename(box.target() / "e", box.outside() / "e");
    fs::create_directory_symlink(box.outside() / "e", box.target() / "e");
    EXPECT_FALSE(root.removeCreatedFile(P({"e", "f"}), fd));
    ::close(fd);
    EXPECT_TRUE(fs::exists(box.outside() / "e/f"));
}

TEST(RestoreRoot, UnavailableTargetAndClose) {
    Sandbox box;
    auto v = refusal([&] { RestoreRoot r(box.path() / "missing", 512, 4096); });
    EXPECT_EQ(v, PathSafetyViolation::restoreRootUnavailable("No such file or directory"));
    Sandbox::writeFile(box.path() / "plain", "x");
    EXPECT_EQ(refusal([&] { RestoreRoot r(box.path() / "plain", 512, 4096); }).kind, K::restoreRootUnavailable);

    // The target folder itself may be reached through a symbolic link.
    fs::create_directory_symlink(box.target(), box.path() / "via-link");
    RestoreRoot root(box.path() / "via-link", 512, 4096);
    ::close(root.createFile(P({"f"}), 0644));
    EXPECT_TRUE(fs::exists(box.target() / "f"));
    root.close();
    root.close();
    EXPECT_TRUE(root.isClosed());
    // After close nothing can be created.
    EXPECT_EQ(refusal([&] { ::close(root.createFile(P({"g"}), 0644)); }).kind, K::ioFailure);
    EXPECT_FALSE(fs::exists(box.target() / "g"));
}

TEST(RestoreRoot, NamedPipeAndSocketInPlaceOfAFileAreRefusedWithoutBlocking) {
    Sandbox box;
    const auto socketPath = box.target() / "sock";
    int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    RestoreRoot root(box.target(), 512, 4096);
    EXPECT_EQ(refusal([&] { ::close(root.createFile(P({"sock"}), 0644)); }),
              PathSafetyViolation::targetAlreadyExists("sock"));
    ::close(s);
}

}  // namespace
}  // namespace wm

#include <sys/stat.h>
#include <unistd.h>

#include "restore/RestoreRoot.h"
#include "restore/RestoreTestSupport.h"
#include "support/Thrown.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using V = PathSafetyViolation;
using test::Sandbox;

std::vector<SafeName> P(std::initializer_list<std::string> names) { return {names.begin(), names.end()}; }
V refusal(const std::function<void()>& call) { return test::thrown<V>(call); }

class RestoreRootTest : public ::testing::Test {
protected:
    void SetUp() override { ::alarm(60); }  // opening a named pipe would block
    void TearDown() override { ::alarm(0); }
    Sandbox box;
    RestoreRoot root{box.target(), 512, 4096};
    void createFile(std::initializer_list<std::string> path) { root.createFile(P(path), 0644); }
};

// Nothing already in the target is replaced, opened or entered, and no link on the way is followed.
TEST_F(RestoreRootTest, RefusesWhatIsAlreadyThere) {
    Sandbox::writeFile(box.target() / "file", "keep");
    Sandbox::writeFile(box.outside() / "secret", "outside");
    fs::create_symlink(box.outside() / "secret", box.target() / "link");
    fs::create_symlink(box.outside() / "missing", box.target() / "dangling");
    ASSERT_EQ(::mkfifo((box.target() / "pipe").c_str(), 0644), 0);
    fs::create_directories(box.target() / "a");
    fs::create_directory_symlink(box.outside(), box.target() / "out");
    fs::create_directory_symlink("real", box.target() / "in");  // even one pointing inside
    fs::create_directory_symlink(box.outside(), box.target() / "a/deeper");
    createFile({"real", "f"});
    const auto before = test::listTree(box.path());

    for (const auto& [name, expected] :
         std::initializer_list<std::pair<const char*, V>>{{"file", V::targetAlreadyExists("file")},
                                                          {"link", V::existingSymlinkAtTarget("link")},
                                                          {"dangling", V::existingSymlinkAtTarget("dangling")},
                                                          {"pipe", V::targetAlreadyExists("pipe")},
                                                          {"real", V::targetAlreadyExists("real")}}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(refusal([&] { createFile({name}); }), expected);
        EXPECT_EQ(refusal([&] { root.createSymlink(P({name}), viewOf("x")); }), expected);
        EXPECT_EQ(refusal([&] { root.createHardLink(P({name}), P({"real", "f"})); }), expected);
    }
    const std::pair<std::function<void()>, V> cases[] = {
        {[&] {
             createFile({"out", "f"});
         },
         V::symlinkComponent("out", 0)},
        {[&] {
             root.ensureDirectoryExists(P({"in", "x"}), 0755);
         },
         V::symlinkComponent("in", 0)},
        {[&] {
             root.createSymlink(P({"a", "deeper", "l"}), viewOf("/"));
         },
         V::symlinkComponent("deeper", 1)},
        {[&] {
             root.createHardLink(P({"a", "deeper", "h"}), P({"x"}));
         },
         V::symlinkComponent("deeper", 1)},
        {[&] {
             root.createHardLink(P({"out", "h"}), P({"real", "f"}));
         },
         V::symlinkComponent("out", 0)},
        {[&] {
             root.createHardLink(P({"n"}), P({"nofolder", "f"}));
         },
         V::componentDoesNotExist("nofolder")},
        {[&] {
             root.createHardLink(P({"n"}), P({"real", "g"}));
         },
         V::linkSourceDoesNotExist("g")},
        {[&] { root.ensureDirectoryExistsReturningDescriptor(P({"out"}), 0755); }, V::symlinkComponent("out", 0)},
        {[&] {
             root.ensureDirectoryExists(P({"file", "x"}), 0755);
         },
         V::unexpectedNonDirectory("file")},
        {[&] {
             createFile({"pipe", "x"});
         },
         V::unexpectedNonDirectory("pipe")},
        {[&] {
             root.createSymlink(P({"new", "l"}), viewOf(std::string("a\0b", 3)));
         },
         V::nulByteInSymlinkTarget("l")},
    };
    for (const auto& [call, expected] : cases) EXPECT_EQ(refusal(call), expected);
    EXPECT_EQ(test::listTree(box.path()), before);
}

// Set-ID bits are never requested; a hard link to a symbolic link links the link itself.
TEST_F(RestoreRootTest, NoSetIDBitsAndHardLinksToTheLinkItself) {
    ::umask(022);
    root.createFile(P({"s"}), 06755);
    EXPECT_EQ(test::describe(box.target() / "s"), "755 file 0");
    Sandbox::writeFile(box.outside() / "secret", "outside");
    root.createSymlink(P({"l"}), viewOf((box.outside() / "secret").string()));
    root.createHardLink(P({"h"}), P({"l"}));
    EXPECT_TRUE(fs::is_symlink(box.target() / "h"));
    EXPECT_EQ(fs::hard_link_count(box.outside() / "secret"), 1u);
}

TEST_F(RestoreRootTest, RemovesOnlyTheVeryFileItCreated) {
    UniqueFd fd = root.createFile(P({"d", "g"}), 0644);
    fs::remove(box.target() / "d/g");  // the name now holds another file
    Sandbox::writeFile(box.target() / "d/g", "someone else's");
    EXPECT_FALSE(root.removeCreatedFile(P({"d", "g"}), fd.get()));
    EXPECT_EQ(Sandbox::readFile(box.target() / "d/g"), "someone else's");
}

TEST(RestoreRoot, UnavailableOrLinkedTarget) {
    Sandbox box;
    EXPECT_EQ(refusal([&] { RestoreRoot r(box.path() / "missing", 512, 4096); }),
              V::restoreRootUnavailable("No such file or directory"));
    fs::create_directory_symlink(box.target(), box.path() / "via-link");  // the target itself may be a link
    RestoreRoot(box.path() / "via-link", 512, 4096).createFile(P({"f"}), 0644);
    EXPECT_TRUE(fs::exists(box.target() / "f"));
}

}  // namespace
}  // namespace wm

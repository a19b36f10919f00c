#include <sys/stat.h>
#include <unistd.h>

#include "restore/RestoreRoot.h"
#include "restore/RestoreTestSupport.h"
#include "restore/SpecialFileOutcome.h"
#include "support/DataTable.h"
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
};

// Nothing already in the target is replaced, opened or entered, and no link on the way is followed.
TEST_F(RestoreRootTest, RefusesWhatIsAlreadyThere) {
    box.writeFile(box.target() / "file", "keep");
    box.writeFile(box.outside() / "secret", "outside");
    fs::create_symlink(box.outside() / "secret", box.target() / "link");
    fs::create_symlink(box.outside() / "missing", box.target() / "dangling");
    ASSERT_EQ(::mkfifo((box.target() / "pipe").c_str(), 0644), 0);
    fs::create_directories(box.target() / "a");
    fs::create_directory_symlink(box.outside(), box.target() / "out");
    fs::create_directory_symlink("real", box.target() / "in");  // even one pointing inside
    fs::create_directory_symlink(box.outside(), box.target() / "a/deeper");
    root.createFile(P({"real", "f"}), 0644);
    const auto before = test::listTree(box.path());

    // f: a file, d: a folder, D: a folder kept open, s: a link to other[0], h: a hard link to other.
    auto attempt = [&](char op, const std::vector<std::string>& path, const std::vector<std::string>& other) {
        const std::vector<SafeName> at(path.begin(), path.end());
        return refusal([&] {
            if (op == 'f') root.createFile(at, 0644);
            if (op == 'd') root.ensureDirectoryExists(at, 0755);
            if (op == 'D') (void)root.ensureDirectoryExistsReturningDescriptor(at, 0755);
            if (op == 's') root.createSymlink(at, viewOf(other.at(0)));
            if (op == 'h') root.createHardLink(at, std::vector<SafeName>(other.begin(), other.end()));
        });
    };
    for (const auto& [name, expected] :
         std::initializer_list<std::pair<const char*, V>>{{"file", V::targetAlreadyExists("file")},
                                                          {"link", V::existingSymlinkAtTarget("link")},
                                                          {"dangling", V::existingSymlinkAtTarget("dangling")},
                                                          {"pipe", V::targetAlreadyExists("pipe")},
                                                          {"real", V::targetAlreadyExists("real")}}) {
        EXPECT_EQ(attempt('f', {name}, {}), expected) << name;
        EXPECT_EQ(attempt('s', {name}, {"x"}), expected) << name;
        EXPECT_EQ(attempt('h', {name}, {"real", "f"}), expected) << name;
    }
    const std::tuple<char, std::vector<std::string>, std::vector<std::string>, V> cases[] = {
        {'f', {"out", "f"}, {}, V::symlinkComponent("out", 0)},
        {'d', {"in", "x"}, {}, V::symlinkComponent("in", 0)},
        {'s', {"a", "deeper", "l"}, {"/"}, V::symlinkComponent("deeper", 1)},
        {'h', {"a", "deeper", "h"}, {"x"}, V::symlinkComponent("deeper", 1)},
        {'h', {"out", "h"}, {"real", "f"}, V::symlinkComponent("out", 0)},
        {'h', {"n"}, {"nofolder", "f"}, V::componentDoesNotExist("nofolder")},
        {'h', {"n"}, {"real", "g"}, V::linkSourceDoesNotExist("g")},
        {'D', {"out"}, {}, V::symlinkComponent("out", 0)},
        {'d', {"file", "x"}, {}, V::unexpectedNonDirectory("file")},
        {'f', {"pipe", "x"}, {}, V::unexpectedNonDirectory("pipe")},
        {'s', {"new", "l"}, {std::string("a\0b", 3)}, V::nulByteInSymlinkTarget("l")},
    };
    for (const auto& [op, path, other, expected] : cases) EXPECT_EQ(attempt(op, path, other), expected) << op;
    EXPECT_EQ(test::listTree(box.path()), before);
}

// Set-ID bits are never requested; a hard link to a symbolic link links the link itself.
TEST_F(RestoreRootTest, NoSetIDBitsAndHardLinksToTheLinkItself) {
    ::umask(022);
    root.createFile(P({"s"}), 06755);
    EXPECT_EQ(test::describe(box.target() / "s"), "755 file 0");
    box.writeFile(box.outside() / "secret", "outside");
    root.createSymlink(P({"l"}), viewOf((box.outside() / "secret").string()));
    root.createHardLink(P({"h"}), P({"l"}));
    EXPECT_TRUE(fs::is_symlink(box.target() / "h"));
    EXPECT_EQ(fs::hard_link_count(box.outside() / "secret"), 1u);
}

TEST_F(RestoreRootTest, RemovesOnlyTheVeryFileItCreated) {
    UniqueFd fd = root.createFile(P({"d", "g"}), 0644);
    fs::remove(box.target() / "d/g");  // the name now holds another file
    box.writeFile(box.target() / "d/g", "someone else's");
    EXPECT_FALSE(root.removeCreatedFile(P({"d", "g"}), fd.get()));
    EXPECT_EQ(stringOf(box.readFile(box.target() / "d/g")), "someone else's");
}

// What the restore leaves out, by entry type, and the sentence saying so.
TEST(RestoreRoot, SpecialFilesAreNamedInTheirSentence) {
    using T = TreeObject::EntryType;
    auto classified = [](T type) {
        return [type](const std::string& name) {
            const auto outcome = RestoreRoot::specialFileOutcome(type, SafeName(name));
            return test::orNone(outcome ? std::optional(outcome->description()) : std::nullopt);
        };
    };
    test::expectAnswers("restore/special-files.tsv", {{"fifo", classified(T::fifo)},
                                                      {"socket", classified(T::socket)},
                                                      {"characterDevice", classified(T::characterDevice)},
                                                      {"blockDevice", classified(T::blockDevice)},
                                                      {"file", classified(T::file)},
                                                      {"directory", classified(T::directory)},
                                                      {"symlink", classified(T::symlink)}});
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

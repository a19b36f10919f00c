#include <sys/stat.h>
#include <unistd.h>

#include <variant>

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

// The folder a restore goes into. One that exists is opened as named, links followed; one it
// makes, and each missing folder above, is opened below the folder above without following a
// link and must be the folder made; a checked target must be what the check found. Each swap
// happens between the making and the opening, and nothing is made inside the backup.
TEST(RestoreRoot, TheTargetIsTheFolderMadeOrTheOneChecked) {
    Sandbox box;
    const fs::path p = box.path();
    for (const char* folder : {"backup", "spare"}) fs::create_directory(p / folder);
    fs::create_directory_symlink(p / "backup", p / "alias");
    fs::create_directory_symlink(box.target(), p / "via-link");
    box.writeFile(p / "file", "x");
    auto identity = [](const fs::path& folder) { return *FolderIdentity::of(folder); };
    auto replaced = [](const fs::path& folder) { return V::targetReplaced(folder.string()); };
    enum class Swap { none, link, folder };
    using Outcome = std::variant<fs::path, V, int>;  // the folder opened, the refusal, the error making one
    const std::tuple<fs::path, std::optional<CheckedTarget>, fs::path, Swap, Outcome> cases[] = {
        // into, checked, swapped, swapped for, outcome
        {p / "new/deeper", std::nullopt, {}, Swap::none, p / "new/deeper"},
        {p / "one/deeper", std::nullopt, p / "one", Swap::link, replaced(p / "one")},
        {p / "two/deeper", std::nullopt, p / "two/deeper", Swap::link, replaced(p / "two/deeper")},
        {p / "three", CheckedTarget{}, p / "three", Swap::folder, replaced(p / "three")},
        {p / "four/", CheckedTarget{}, {}, Swap::none, p / "four"},
        {p / "via-link/", std::nullopt, {}, Swap::none, box.target()},
        {box.target(), CheckedTarget{identity(box.target())}, {}, Swap::none, box.target()},
        {box.target(), CheckedTarget{identity(box.outside())}, {}, Swap::none, replaced(box.target())},
        {p / "via-link", CheckedTarget{}, {}, Swap::none, replaced(p / "via-link")},
        {p / "gone", CheckedTarget{identity(box.outside())}, {}, Swap::none, replaced(p / "gone")},
        {p / "file/x", std::nullopt, {}, Swap::none, ENOTDIR},
        {p / std::string(300, 'n') / "x", std::nullopt, {}, Swap::none, ENAMETOOLONG},
        {p / "alias/new/deeper", std::nullopt, {}, Swap::none, V::insideTheBackup("deeper")},
    };
    for (const auto& [into, checked, swapped, swap, expected] : cases) {
        auto between = [&, &swapped = swapped, swap = swap](const fs::path& made) {
            if (made != swapped) return;
            fs::remove(made);
            if (swap == Swap::link) fs::create_directory_symlink(box.outside(), made);
            if (swap == Swap::folder) fs::rename(p / "spare", made);
        };
        try {
            const UniqueFd opened = RestoreRoot::openTarget(into, checked, identity(p / "backup"), between);
            struct stat st;
            ASSERT_EQ(::fstat(opened.get(), &st), 0);
            const auto* folder = std::get_if<fs::path>(&expected);
            EXPECT_TRUE(folder && (FolderIdentity{st.st_dev, st.st_ino} == FolderIdentity::of(*folder))) << into;
        } catch (const V& v) {
            EXPECT_EQ(Outcome(v), expected) << into << ": " << v.what();
        } catch (const fs::filesystem_error& e) {
            EXPECT_EQ(Outcome(e.code().value()), expected) << into << ": " << e.what();
        }
    }
    EXPECT_TRUE(fs::is_empty(box.outside()) && fs::is_empty(p / "backup"));
}

}  // namespace
}  // namespace wm

#include "storage/LocalFolderDestination.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "support/TempFolder.h"
#include "support/Unprivileged.h"

namespace wm {
namespace {

namespace fs = std::filesystem;
using Preparation = LocalFolderDestination::Preparation;
using Interruption = LocalFolderDestination::WriteInterruption;
const RepoPath kHead = RepoPath() / "refs" / "head";

class LocalFolderTest : public ::testing::Test {
protected:
    std::shared_ptr<LocalFolderDestination> make(Preparation p = Preparation::preparing(),
                                                 std::optional<Interruption> interruption = std::nullopt) {
        return std::make_shared<LocalFolderDestination>(DestinationID::random(), DestinationKind::localFolder(), root,
                                                        interruption, std::move(p));
    }
    void write(Destination& d, const RepoPath& path, std::string_view text) {
        auto w = d.openWrite(path);
        w->write(viewOf(text));
        w->commit();
    }
    test::TempFolder folder{"wm-local"};
    fs::path root = folder / "repo";
};

// Reading only touches nothing; preparing makes the folders and removes nothing. Discarding
// pending writes removes only regular files named as pending writes are, never a folder, a
// link or what a link points at, and never a user's file that merely sits in "tmp".
TEST_F(LocalFolderTest, DiscardingPendingWritesRemovesOnlyItsOwnLeftovers) {
    EXPECT_EQ(make(Preparation::readingOnly())->availability(), Availability::notMounted(std::nullopt));
    EXPECT_FALSE(fs::exists(root));
    const std::string pending = "0123456789abcdef0123456789abcdef";
    folder.writeFile("repo/tmp/" + pending, "debris");
    folder.writeFile("repo/tmp/dir/" + pending, "deep");
    folder.writeFile("repo/tmp/notes.txt", "a user's file");
    folder.writeFile("repo/tmp/0123456789ABCDEF0123456789ABCDEF", "upper case is not ours");
    folder.writeFile("elsewhere/precious", "keep me");
    fs::create_symlink(folder / "elsewhere" / "precious", root / "tmp" / "fedcba9876543210fedcba9876543210");
    fs::create_directory(root / "tmp" / "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
    folder.writeFile("repo/keep", "kept");
    auto d = make(Preparation::preparing({RepoPath() / "packs"}));
    EXPECT_TRUE(fs::exists(root / "tmp" / pending));  // preparing alone removes nothing
    d->discardPendingWrites();
    EXPECT_FALSE(fs::exists(root / "tmp" / pending));
    for (const auto* kept : {"dir", "notes.txt", "0123456789ABCDEF0123456789ABCDEF", "fedcba9876543210fedcba9876543210",
                             "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})
        EXPECT_TRUE(fs::exists(fs::symlink_status(root / "tmp" / kept))) << kept;
    EXPECT_EQ(stringOf(folder.readFile("repo/tmp/dir/" + pending)), "deep");
    EXPECT_EQ(stringOf(folder.readFile("elsewhere/precious")), "keep me");
    EXPECT_TRUE(fs::exists(root / "keep") && fs::exists(root / "packs"));
    // A link is judged as a link, never by what it points at, and so is a folder reached
    // through one.
    EXPECT_EQ(d->opening(RepoPath() / "tmp" / "fedcba9876543210fedcba9876543210", 64).kind, ObjectOpening::Kind::other);
    fs::create_directory_symlink(folder / "elsewhere", root / "linked");
    EXPECT_EQ(d->opening(RepoPath() / "linked" / "precious", 64).kind, ObjectOpening::Kind::other);
    EXPECT_EQ(stringOf(d->opening(RepoPath() / "keep", 64).bytes), "kept");

    fs::remove_all(root / "tmp");
    fs::create_directory_symlink(folder / "elsewhere", root / "tmp");
    EXPECT_THROW(make(), DestinationError);
    folder.writeFile("elsewhere/" + pending, "not ours either");
    make(Preparation::readingOnly())->discardPendingWrites();  // a linked "tmp" is not entered
    EXPECT_TRUE(fs::exists(folder / "elsewhere" / pending));
    fs::remove_all(root);
    folder.writeFile("repo", "a file where the folder should be");
    EXPECT_THROW(make(), DestinationError);
}

TEST_F(LocalFolderTest, InterruptedCommitsLeaveTheOldObjectOrTheWholeNewOne) {
    using Stage = Interruption::Stage;
    for (const auto& [stage, visibleAfter] :
         {std::pair{Stage::beforeDataSync, "old"}, {Stage::beforeRename, "old"}, {Stage::beforeFolderSync, "new"}}) {
        fs::remove_all(root);
        auto d = make(Preparation::preparing(), Interruption{stage, 1});
        write(*d, kHead, "old");  // the first commit goes through
        auto w = d->openWrite(kHead);
        w->write(viewOf("new"));
        EXPECT_THROW(w->commit(), DestinationError);
        EXPECT_EQ(stringOf(d->read(kHead)), visibleAfter);
        EXPECT_THROW(w->commit(), DestinationError);  // the writer is finished
        w->cancel();                                  // and cancel clears its debris
        EXPECT_TRUE(d->list(RepoPath() / "tmp").empty());
        write(*d, kHead, "later");  // later commits are not interrupted
        EXPECT_EQ(stringOf(d->read(kHead)), "later");
    }
}

// A write cut short by the volume (here the file-size limit, as a full disk would) leaves a
// shortened pending file: a later commit fails instead of putting it in place.
TEST_F(LocalFolderTest, AFailedWriteFinishesTheWriter) {
    auto d = make();
    write(*d, kHead, "old");
    auto w = d->openWrite(kHead);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_THROW(w->write(viewOf(std::string(8192, 'x'))), DestinationError);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_THROW(w->write(viewOf("more")), DestinationError);
    EXPECT_THROW(w->commit(), DestinationError);
    EXPECT_EQ(stringOf(d->read(kHead)), "old");
}

// Runs each call without privileges; each must throw a DestinationError (of the given kind,
// and when given the i-th operation).
void expectRefusedUnprivileged(const std::vector<std::function<void()>>& calls,
                               std::optional<DestinationError::Kind> kind,
                               const std::vector<DestinationError::Operation>& operations = {}) {
    test::expectUnprivileged([&](const auto& report) {
        int failures = 0;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            std::string wrong = "no error";
            try {
                calls[i]();
            } catch (const DestinationError& e) {
                const bool right = (!kind || e.kind == *kind) && (operations.empty() || e.operation == operations[i]);
                wrong = right ? "" : e.what();
            }
            if (!wrong.empty()) report("call " + std::to_string(i) + ": " + wrong), ++failures;
        }
        return failures;
    });
}

// A backup drive may hold a named pipe where a file should be: reading it is an error at
// once, never a wait for a writer that does not come (a blocked open ends the child).
TEST_F(LocalFolderTest, ANamedPipeIsNotReadAsAnObject) {
    auto d = make();
    fs::create_directories(root / "index");
    ASSERT_EQ(::mkfifo((root / "index" / "a.idx").c_str(), 0644), 0);
    ::chmod(folder.path().c_str(), 0755);
    const RepoPath path = RepoPath() / "index" / "a.idx";
    EXPECT_EQ(d->size(path), std::nullopt);
    std::uint8_t byte;
    expectRefusedUnprivileged({[&] {
                                   ::alarm(5);
                                   d->read(path);
                               },
                               [&] {
                                   d->readInto(path, 0, {&byte, 1});
                               }},
                              std::nullopt);
}

// Each failure keeps the call it came from: the words for a refused write are not those for a
// refused read.
TEST_F(LocalFolderTest, PermissionFailuresWithoutPrivileges) {
    using Operation = DestinationError::Operation;
    auto d = make(Preparation::preparing({RepoPath() / "keys"}));
    write(*d, RepoPath() / "keys" / "k.key", "key");
    write(*d, RepoPath() / "keys" / "secret.key", "secret");
    ::chmod((root / "keys" / "secret.key").c_str(), 0);
    ::chmod(folder.path().c_str(), 0755);
    expectRefusedUnprivileged(
        {[&] { d->openWrite(RepoPath() / "keys" / "new.key"); }, [&] { d->read(RepoPath() / "keys" / "secret.key"); },
         [&] { d->remove(RepoPath() / "keys" / "k.key"); }},
        DestinationError::Kind::permissionDenied, {Operation::write, Operation::read, Operation::removal});
    EXPECT_TRUE(fs::exists(root / "keys" / "k.key"));
    ::chmod(root.c_str(), 0);
    test::expectUnprivileged(
        [&](const auto&) { return d->availability().case_ == Availability::Case::permissionRequired ? 0 : 1; });
    ::chmod(root.c_str(), 0755);
}

}  // namespace
}  // namespace wm
